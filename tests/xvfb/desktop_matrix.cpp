// The desktop matrix, for developers (tools/desktop-matrix.sh runs it): the real game started
// again and again under each window manager, beside busy loops, as a player on a loaded desktop
// would meet it. For every start, one line: where the frame showed first and where it stayed,
// the notice's frame centre, and a computer solve pinged all along with a close made during it.
//
//     koma-desktop-matrix [--starts N] [--loops N] [--game PATH] [WM ...]
//
// WM is openbox, mutter, kwin_x11, xfwm4, metacity, icewm, fluxbox or none (every one of
// them by default); one not installed is reported and passed over.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <map>

#include "board/layout.h"
#include "solve_watch.h"
#include "support/solve_route.h"
#include "wm_client.h"
#include "x_session.h"

namespace koma::xtest {
namespace {

const QRect kDesignedOuter(318, 191, 499, 509);
const QRect kBareClient(318, 191, 476, 466);

QString Rect(const QRect& rect) {
    return QStringLiteral("%1,%2 %3x%4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

struct Tally {
    qint64 worst_ping_ms = 0;
    int starts = 0;
    int placed = 0;
    int first_placed = 0;
    int pings = 0;
    int close_waited = 0;
    int notice_centred = 0;
};

// One start: prints its line and counts it.
void Start(const QString& manager, int number, int loops, const QString& program, Tally& tally) {
    XServer x;
    QString why;
    if (!x.ok() || (manager != QLatin1String("none") && !x.StartWindowManager(why, manager))) {
        std::printf("%-9s %2d  could not start: %s\n", qPrintable(manager), number,
                    qPrintable(why));
        return;
    }
    const CpuLoad load(loops);
    ++tally.starts;
    PlacementWatch watch(x.display());
    Game game(x, {}, true, {}, program);
    const auto seen = watch.Follow(QStringLiteral("KOMA"), 500, 20000);
    if (seen.empty()) {
        std::printf("%-9s %2d  the window never showed (game %s: %s)\n", qPrintable(manager),
                    number, game.process().state() == QProcess::Running ? "running" : "ended",
                    game.process().readAllStandardError().right(200).simplified().constData());
        return;
    }
    const bool bare = manager == QLatin1String("none");
    const QRect expected = bare ? kBareClient : kDesignedOuter;
    const bool first_right = seen.front().Outer() == expected;
    const bool last_right = seen.back().Outer() == expected;
    tally.first_placed += first_right ? 1 : 0;
    tally.placed += last_right ? 1 : 0;
    const QPoint client = seen.back().client.topLeft();
    const std::uint32_t window = watch.window();
    const WmClient wm(x.display());

    // The notice, after the player's own solve; first a click on the window's background, which
    // a desktop that focuses on a click (fluxbox) may take for itself.
    x.Click(client.x() + 450, client.y() + 300);
    x.Run(QStringLiteral("xdotool"), ClicksToSolveFromTheStart(client));
    const QString notice = x.WaitForAnotherWindow(QString::number(window), 15000);
    QString notice_at = QStringLiteral("none");
    if (!notice.isEmpty()) {
        const QPoint centre = QRect(0, 0, 1024, 768).center();
        const auto placed = wm.WaitForPlacement(
            notice.toUInt(),
            [&](const auto& box) { return (box.Outer().center() - centre).manhattanLength() <= 2; },
            5000);
        if (placed) {
            const QPoint at = placed->Outer().center();
            notice_at = QStringLiteral("%1,%2").arg(at.x()).arg(at.y());
            tally.notice_centred += (at - centre).manhattanLength() <= 2 ? 1 : 0;
        }
        x.RequestClose(notice);
        x.WaitUntilGone(notice, 5000);
    }

    // Restart, play the first three quarters of the way by hand (the solve under load is long),
    // then the computer's solve of the rest with pings, a click and a close.
    x.Click(client.x() + 437, client.y() + 72);
    const std::vector<Grid> route = koma::testing::BoardsOfTheSolve(StartLayout);
    const std::size_t by_hand = route.size() * 3 / 4;
    QStringList clicks = ClicksToSolveFromTheStart(client);
    clicks = clicks.mid(0, static_cast<qsizetype>(by_hand * 5));  // 5 words a click
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && !BoardShows(x.Screenshot(), StartLayout, client)) {
        QThread::msleep(100);
    }
    x.Run(QStringLiteral("xdotool"), clicks);
    clock.restart();
    while (clock.elapsed() < 10000 && !BoardShows(x.Screenshot(), route[by_hand], client)) {
        QThread::msleep(100);
    }
    const SolveWatch solve = WatchSolve(x, game, window, client, route[by_hand]);
    // A desktop calls a window hung when a ping waits 5 s (mutter's check-alive-timeout).
    const bool pings_ok = solve.pings_answered > 0 && solve.worst_answer_ms < 5000 &&
                          solve.pings_answered + 2 >= static_cast<int>(solve.pings_sent);
    const bool close_ok =
        solve.last_seen + 2 >= solve.boards && solve.closed && solve.exit_code == 0;
    tally.pings += pings_ok ? 1 : 0;
    tally.worst_ping_ms = std::max(tally.worst_ping_ms, solve.worst_answer_ms);
    tally.close_waited += close_ok ? 1 : 0;
    std::printf(
        "%-9s %2d  first %-17s %s  last %-17s %s  (%zu placements)  notice centre %-9s  "
        "pings %d/%u (%d over 1 s) worst %lld ms %s  solve %zu/%zu close %s exit %d %s\n",
        qPrintable(manager), number, qPrintable(Rect(seen.front().Outer())),
        first_right ? "ok " : "BAD", qPrintable(Rect(seen.back().Outer())),
        last_right ? "ok " : "BAD", seen.size(), qPrintable(notice_at), solve.pings_answered,
        solve.pings_sent, solve.pings_late, static_cast<long long>(solve.worst_answer_ms),
        pings_ok ? "ok" : "BAD", solve.last_seen, solve.boards - 1,
        solve.closed ? "handled" : "lost", solve.exit_code, close_ok ? "ok" : "BAD");
    std::fflush(stdout);
}

bool Installed(const QString& manager) {
    if (manager == QLatin1String("none")) {
        return true;
    }
    const QStringList command = WindowManagerCommand(manager);
    return !QStandardPaths::findExecutable(command.first()).isEmpty() &&
           !QStandardPaths::findExecutable(manager).isEmpty();
}

int Run(const QStringList& arguments) {
    int starts = 8;
    int loops = 2;
    QString program;
    QStringList managers;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--starts") && i + 1 < arguments.size()) {
            starts = arguments[++i].toInt();
        } else if (arguments[i] == QLatin1String("--loops") && i + 1 < arguments.size()) {
            loops = arguments[++i].toInt();
        } else if (arguments[i] == QLatin1String("--game") && i + 1 < arguments.size()) {
            program = arguments[++i];
        } else {
            managers << arguments[i];
        }
    }
    if (managers.isEmpty()) {
        managers = {QStringLiteral("openbox"),  QStringLiteral("mutter"),
                    QStringLiteral("kwin_x11"), QStringLiteral("xfwm4"),
                    QStringLiteral("metacity"), QStringLiteral("icewm"),
                    QStringLiteral("fluxbox"),  QStringLiteral("none")};
    }
    std::map<QString, Tally> tallies;
    for (const QString& manager : managers) {
        if (!Installed(manager)) {
            std::printf("%-9s     not installed\n", qPrintable(manager));
            continue;
        }
        for (int number = 1; number <= starts; ++number) {
            Start(manager, number, loops, program, tallies[manager]);
        }
    }
    std::printf(
        "\n| window manager | starts | frame right from the first showing | frame right "
        "at last | pings answered in a solve (worst) | close waited, exit 0 | notice centred |\n"
        "|---|---|---|---|---|---|---|\n");
    for (const QString& manager : managers) {
        if (const auto tally = tallies.find(manager); tally != tallies.end()) {
            const Tally& t = tally->second;
            std::printf("| %s | %d | %d | %d | %d (%lld ms) | %d | %d |\n", qPrintable(manager),
                        t.starts, t.first_placed, t.placed, t.pings,
                        static_cast<long long>(t.worst_ping_ms), t.close_waited, t.notice_centred);
        }
    }
    return 0;
}

}  // namespace
}  // namespace koma::xtest

int main(int argc, char** argv) {
    // Only for reading the tile pictures out of the resources; no display needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qt_argc = 1;
    QGuiApplication application(qt_argc, argv);
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return koma::xtest::Run(arguments);
}
