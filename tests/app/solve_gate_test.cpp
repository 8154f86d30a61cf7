// The gate with Qt Core alone: what waits while the computer solves, and its order afterwards.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <string>
#include <vector>

#include "app/solve_gate.h"

namespace koma::app {
namespace {

TEST(SolveGate, HeldWorkRunsAfterTheSolveAndAfterTheInputKeptMeanwhile) {
    int argc = 1;
    char name[] = "solve_gate_tests";
    char* argv[] = {name, nullptr};
    const QCoreApplication application(argc, argv);
    std::vector<std::string> log;
    const auto note = [&log](const char* what) { return [&log, what] { log.emplace_back(what); }; };
    SolveGate gate([](const SolveGate::Action& action) { action(); },
                   [&log](std::string_view failure) { log.emplace_back(failure); });
    gate.UnlessSolving(note("at once"));
    EXPECT_FALSE(gate.HoldsClose(note("not held")));
    gate.HoldReports();  // a press on the off button
    gate.Report("report");
    QObject window_system;
    gate.Solve([&] {
        gate.ReportHeldAfterRelease();
        SolveGate::AnswerDesktop();  // the release's report reaches the gate, which holds it
        gate.UnlessSolving(note("notify"));
        EXPECT_TRUE(gate.HoldsClose(note("close")));
        // Input kept during the solve reaches Qt's queue only behind the solve's end.
        QMetaObject::invokeMethod(
            &window_system,
            [&] { QMetaObject::invokeMethod(&window_system, note("input"), Qt::QueuedConnection); },
            Qt::QueuedConnection);
        log.emplace_back("solved");
    });
    for (int pass = 0; pass < 10 && log.size() < 6; ++pass) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(
        log, (std::vector<std::string>{"at once", "solved", "input", "report", "notify", "close"}));
}

}  // namespace
}  // namespace koma::app
