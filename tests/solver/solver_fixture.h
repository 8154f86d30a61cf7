// A board, a recording view and a solver with the pause off.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/puzzle.h"
#include "solver/solver.h"
#include "support/recording_view.h"

namespace koma::testing {

using FakeView = support::RecordingView;

class SolverTest : public ::testing::Test {
  protected:
    SolverTest() {
        solver.SetStepObserver([this](Step step) { steps.push_back(step); });
    }

    // Puts grid on the board and tracks its blank, with a clean record.
    void Load(const Grid& grid) {
        puzzle = Puzzle(view, grid);
        solver.FindBlank();
        Forget();
    }

    void RunPhase(int phase) { solver.RunPhase(phase); }
    void Closing() { solver.Closing(); }

    // The solver tracks the blank where it was; the player then slides `tile` into it, as a
    // click does, so that the tracked cell holds that tile.
    void SlideUntracked(Cell tile) { ASSERT_TRUE(puzzle.Slide(tile, solver.blank())); }

    void Forget() {
        steps.clear();
        view.ClearLog();
        view.notices.clear();
        view.repaints = 0;
        view.picture_moves = 0;
    }

    FakeView view;
    Puzzle puzzle{view};
    Solver solver{puzzle, view, Pause::kOff};
    std::vector<Step> steps;
};

}  // namespace koma::testing
