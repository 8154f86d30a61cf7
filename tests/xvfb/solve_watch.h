// The board as the screen shows it, and the computer's solve watched from outside as a desktop
// sees it: pinged every half second, a click and a close request made while it runs.
#pragma once

#include <QImage>
#include <QPoint>
#include <cstdint>

#include "board/grid.h"
#include "x_session.h"

namespace koma::xtest {

// Whether the screenshot shows `grid` on a board whose client area starts at `client`.
bool BoardShows(const QImage& screen, const Grid& grid, QPoint client = {kClientLeft, kClientTop});

// How long a ping may wait for its answer. mutter takes a window for hung after 5 s without one
// (its check-alive timeout); a second less leaves room for this watch's own lateness. Beside two
// busy loops the slowest answer took 2.1 s: a solver step's count-down runs at the share of
// the processor the game gets.
inline constexpr qint64 kPingPatienceMs = 4000;

struct SolveWatch {
    std::uint32_t pings_sent = 0;
    int pings_answered = 0;
    int pings_late = 0;  // answered after kPingPatienceMs, or not at all
    qint64 worst_answer_ms = 0;
    std::size_t boards = 0;       // arrangements the solve goes through, the start included
    std::size_t boards_seen = 0;  // of them seen on the screen
    std::size_t last_seen = 0;    // the latest one seen
    bool closed = false;          // the game ended within the time allowed
    int exit_code = -1;
};

// Clicks "PCにやらせる" of the game showing `from` in `window`, pings the window every 500 ms,
// clicks a tile of the locked board a sixth into the solve and asks the window to close a third
// into it, and follows the board step by step until the game has ended (or 3 minutes).
SolveWatch WatchSolve(const XServer& x, Game& game, std::uint32_t window, QPoint client,
                      const Grid& from = StartLayout);

}  // namespace koma::xtest
