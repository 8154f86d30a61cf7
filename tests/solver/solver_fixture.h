// A board, a recording view and a solver with the pause off, plus boards written row by row.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "board/puzzle.h"
#include "solver/solver.h"
#include "support/fake_view.h"

namespace koma::testing {

constexpr std::size_t Index(int i) {
    return static_cast<std::size_t>(i);
}

inline int& CellOf(Grid& grid, int x, int y) {
    return grid.at(Index(x)).at(Index(y));
}
inline int CellOf(const Grid& grid, int x, int y) {
    return grid.at(Index(x)).at(Index(y));
}

// Rows top to bottom, each left to right, separated by spaces.
inline std::string RowsOf(const Grid& grid) {
    std::string text;
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kColumns; ++x) {
            if (!text.empty()) {
                text += ' ';
            }
            text += std::to_string(CellOf(grid, x, y));
        }
    }
    return text;
}

class SolverTest : public ::testing::Test {
  protected:
    SolverTest() {
        solver.SetStepObserver([this](Step step) { steps.push_back(step); });
        solver.SetFaultHook([this](std::string_view what) { faults.emplace_back(what); });
    }

    // Puts grid on the board and tracks its blank, with a clean record.
    void Load(const Grid& grid) {
        puzzle.SetCells(grid);
        solver.FindBlank();
        Forget();
    }

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
    Solver solver{puzzle, Pause::kOff};
    std::vector<Step> steps;
    std::vector<std::string> faults;
};

}  // namespace koma::testing
