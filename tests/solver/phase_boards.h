// Boards as they stand when a phase begins: the earlier phases' tiles home, the rest anywhere
// that play can reach.
#pragma once

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "solver_fixture.h"
#include "tools/common/arrangement.h"

namespace koma::testing {

// The tile of each phase, 1..13.
inline constexpr std::array<int, Solver::kPhases> kPhaseTiles{12, 2, 1, 10, 3,  7, 6,
                                                              15, 5, 8, 14, 11, 4};

inline int PhaseTile(int phase) {
    return kPhaseTiles.at(ArrayIndex(phase - 1));
}

inline Solver::Cell HomeOf(int tile) {
    return SolveLayout.Find(tile);
}

// True when the tiles of phases 1..last stand on their homes.
inline bool PhasesHome(const Grid& grid, int last) {
    for (int phase = 1; phase <= last; ++phase) {
        const Solver::Cell home = HomeOf(PhaseTile(phase));
        if (grid[home] != PhaseTile(phase)) {
            return false;
        }
    }
    return true;
}

// Cells not yet claimed by the tiles of phases before `phase`, in reading order.
inline std::vector<Solver::Cell> FreeCells(int phase) {
    std::vector<Solver::Cell> free;
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kColumns; ++x) {
            bool claimed = false;
            for (int p = 1; p < phase; ++p) {
                const Solver::Cell home = HomeOf(PhaseTile(p));
                claimed = claimed || home == Solver::Cell{x, y};
            }
            if (!claimed) {
                free.push_back({x, y});
            }
        }
    }
    return free;
}

// The earlier phases' tiles home, the blank and the phase's tile where asked, the other tiles
// in the remaining cells in ascending (or descending) order, two of them exchanged if that is
// needed to make the board reachable.
inline Grid PhaseStartBoard(int phase, Solver::Cell blank, Solver::Cell tile, bool descending) {
    Grid grid{};
    std::vector<int> others;
    for (int t = 1; t < kCells; ++t) {
        const auto* const end = kPhaseTiles.begin() + phase;
        if (std::find(kPhaseTiles.begin(), end, t) == end) {
            others.push_back(t);
        }
    }
    if (descending) {
        std::reverse(others.begin(), others.end());
    }
    for (int p = 1; p < phase; ++p) {
        const Solver::Cell home = HomeOf(PhaseTile(p));
        grid[home] = PhaseTile(p);
    }
    grid[blank] = kBlank;
    grid[tile] = PhaseTile(phase);
    std::vector<Solver::Cell> rest;
    for (const Solver::Cell cell : FreeCells(phase)) {
        if (cell != blank && cell != tile) {
            rest.push_back(cell);
        }
    }
    for (std::size_t i = 0; i < rest.size(); ++i) {
        grid[rest[i]] = others.at(i);
    }
    if (!IsReachableFromStart(grid)) {
        std::swap(grid[rest[0]], grid[rest[1]]);
    }
    return grid;
}

}  // namespace koma::testing
