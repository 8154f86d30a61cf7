// What runs while the computer solves. The solve is one handler that returns to the event loop
// only at its end; the one rule:
//
//   While it solves, only the window system's own traffic runs (repaints, exposes, pings, frame
//   changes and the frame fit), pumped by AnswerDesktop between steps. The player's input
//   (and X11's close request) waits in Qt's queue; what the game queues for itself (the
//   music's notifications, the output's release check, the reports held over a press) and a
//   close from elsewhere wait here, in the order they came. Once the solve has ended, the
//   input kept during it runs first, as far as one pass of the event loop of at most
//   kInputFirstMs reaches, then what waited here, in its order; each of those reads the state
//   only when it runs, so it follows what the player did meanwhile.
//
// (The other way round, a held report's box would swallow the clicks made during the solve,
// and a held end of the piece would restart the music an "off" made during the solve has
// switched off.) Failures are held the same way from a press on RadioButton1 to the end of its
// release: a box opened while the button is held would take the release that completes the
// click, so they are held and shown once the release is done, after any solve.
#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace koma::app {

class SolveGate : public QObject {
  public:
    using Action = std::function<void()>;
    // Runs an action so that no failure escapes it (the window's error box).
    using Guard = std::function<void(const Action&)>;
    // Shows one failure.
    using Show = std::function<void(std::string_view failure)>;

    // After a solve, the input kept during it is handled within this time before what waited
    // here; more than a player can queue in a solve, and nothing waits for it when there is none.
    static constexpr int kInputFirstMs = 200;

    SolveGate(Guard guard, Show show);

    // Runs the solve; however it ends, what waited for it runs afterwards.
    void Solve(const Action& solve);
    // Runs `action` now, or, while the computer solves, held behind the solve's end.
    void UnlessSolving(Action action);
    // A close request: while the computer solves it is held like the rest and true is
    // returned (the caller refuses it for now); otherwise false.
    bool HoldsClose(Action close);
    // Between the solver's steps: what the window system asks of a live window runs, and the
    // game's own queued events come here through UnlessSolving.
    static void AnswerDesktop();

    // A press on RadioButton1: from now on failures are held.
    void HoldReports();
    // The end of that press's release: what failed is shown once the release is done (and,
    // like the music's notifications, after a running solve).
    void ReportHeldAfterRelease();
    // A failure: held, or shown now.
    void Report(std::string_view failure);

  private:
    void ReleaseHeld();
    // Shows what failed while a press on RadioButton1 was held, in order.
    void ReportHeld();

    Guard guard_;
    Show show_;
    bool solving_ = false;
    // What arrived during a solve and must not run inside it, in arrival order.
    std::vector<Action> held_;
    // From a press on RadioButton1 to the end of its release, failures wait here.
    bool holding_reports_ = false;
    std::vector<std::string> held_reports_;
};

}  // namespace koma::app
