#include "app/solve_gate.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <utility>

namespace koma::app {

SolveGate::SolveGate(Guard guard, Show show) : guard_(std::move(guard)), show_(std::move(show)) {}

void SolveGate::Solve(const Action& solve) {
    struct Solving {
        explicit Solving(SolveGate& owner) : gate(owner) { gate.solving_ = true; }
        Solving(const Solving&) = delete;
        Solving& operator=(const Solving&) = delete;
        ~Solving() {
            gate.solving_ = false;
            gate.ReleaseHeld();
        }
        SolveGate& gate;
    } const solving(*this);
    solve();
}

void SolveGate::UnlessSolving(Action action) {
    if (solving_) {
        held_.push_back(std::move(action));
    } else {
        action();
    }
}

bool SolveGate::HoldsClose(Action close) {
    if (!solving_) {
        return false;
    }
    guard_([this, &close] { held_.push_back(std::move(close)); });
    return true;
}

void SolveGate::AnswerDesktop() {
    // Qt keeps mouse, key and wheel events (and X11's close request) queued in their order.
    // What runs here is the window system's own traffic (pings, exposes, frame changes and the
    // frame fit after them) and queued events; those of the game's own (the music's
    // notifications, the output's release check, held reports, a close from elsewhere) go
    // through UnlessSolving, which holds them back.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void SolveGate::ReleaseHeld() {
    // First the input the window system kept during the solve, then what was held here.
    if (!held_.empty()) {
        QMetaObject::invokeMethod(
            this,
            [this, actions = std::exchange(held_, {})] {
                QCoreApplication::processEvents(QEventLoop::AllEvents, kInputFirstMs);
                for (const Action& action : actions) {
                    guard_(action);
                }
            },
            Qt::QueuedConnection);
    }
    // The X11 input set aside during the solve lies where the event loop looks only when it is
    // woken; without this, a click or close made during the solve would wait for the next
    // event from the X server.
    if (QAbstractEventDispatcher* const dispatcher = QAbstractEventDispatcher::instance()) {
        dispatcher->wakeUp();
    }
}

void SolveGate::HoldReports() {
    holding_reports_ = true;
}

void SolveGate::ReportHeldAfterRelease() {
    if (!holding_reports_) {
        return;
    }
    guard_([this] {
        QMetaObject::invokeMethod(
            this, [this] { guard_([this] { UnlessSolving([this] { ReportHeld(); }); }); },
            Qt::QueuedConnection);
    });
}

void SolveGate::Report(std::string_view failure) {
    if (holding_reports_) {
        held_reports_.emplace_back(failure);
    } else {
        show_(failure);
    }
}

void SolveGate::ReportHeld() {
    holding_reports_ = false;
    for (const std::string& failure : std::exchange(held_reports_, {})) {
        show_(failure);
    }
}

}  // namespace koma::app
