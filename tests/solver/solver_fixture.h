// A board, a recording view and a solver with the pause off.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/puzzle.h"
#include "solver/solver.h"
#include "tools/support/recording_view.h"

namespace koma::testing {

using FakeView = support::RecordingView;

// What only the tests do to a solver: run it piece by piece, or track a blank of their choice.
struct SolverProbe {
    static void RunPhase(Solver& solver, int phase) { solver.RunPhase(phase); }
    static void Closing(Solver& solver) { solver.Closing(); }
    static void SetBlank(Solver& solver, int x, int y) {
        solver.BlankX = x;
        solver.BlankY = y;
    }
};

class SolverTest : public ::testing::Test {
  protected:
    SolverTest() {
        solver.SetStepObserver([this](Step step) { steps.push_back(step); });
        solver.SetFaultHook([this](std::string_view what) { faults.emplace_back(what); });
    }

    // Puts grid on the board and tracks its blank, with a clean record.
    void Load(const Grid& grid) {
        puzzle = Puzzle(view, grid);
        solver.FindBlank();
        Forget();
    }

    void RunPhase(int phase) { SolverProbe::RunPhase(solver, phase); }
    void Closing() { SolverProbe::Closing(solver); }

    void Forget() {
        steps.clear();
        faults.clear();
        view.ClearLog();
        view.notices.clear();
        view.repaints = 0;
        view.picture_moves = 0;
    }

    FakeView view;
    Puzzle puzzle{view};
    Solver solver{puzzle, view, Pause::kOff};
    std::vector<Step> steps;
    std::vector<std::string> faults;
};

}  // namespace koma::testing
