// The computer's solve worked out without a window, for tests that follow or replay it.
#pragma once

#include <vector>

#include "board/puzzle.h"
#include "solver/solver.h"
#include "support/recording_view.h"

namespace koma::testing {

// Every arrangement a solve from `start` passes through, the start first.
inline std::vector<Grid> BoardsOfTheSolve(const Grid& start) {
    support::RecordingView view;
    view.keep_log = false;
    Puzzle puzzle(view, start);
    Solver solver(puzzle, view, Pause::kOff);
    std::vector<Grid> boards{start};
    solver.SetStepObserver([&](Step) { boards.push_back(puzzle.cells()); });
    solver.Button1Click();
    return boards;
}

// The cells a player clicks to play the same slides by hand from `start`: each is where the
// blank goes, which holds the tile that slides.
inline std::vector<Cell> ClicksOfTheSolve(const Grid& start) {
    std::vector<Cell> clicks;
    const std::vector<Grid> boards = BoardsOfTheSolve(start);
    for (auto board = boards.begin() + 1; board != boards.end(); ++board) {
        clicks.push_back(board->Find(kBlank));
    }
    return clicks;
}

}  // namespace koma::testing
