// The solving sequence: thirteen phases, one tile each, then the closing.
#include <array>
#include <cassert>
#include <iterator>
#include <span>

#include "solver/solver.h"

namespace koma {

namespace {

enum class TileMove { kLeft, kRight, kUp, kDown };

// "while the tile's column (or row) is beyond target: move it one cell towards it".
struct TileLoop {
    TileMove move;
    int target;
};

using enum TileMove;

}  // namespace

// One phase: find its tile, run its loops in order (the order decides the route), then its end
// rule if it has one. The row- and column-end phases have no loops, only their rule.
struct Solver::PhaseRule {
    int tile;
    std::array<TileLoop, 3> loops;
    std::size_t loop_count;  // how many of `loops` the phase uses
    void (Solver::*end_rule)(int number, Cell& tile);
};

void Solver::Button1Click() {
    AsOneRun([this] {
        view_.SetSolverButtonVisible(false);  // locks the board before anything is read
        FindBlank();
        for (int phase = 1; phase <= kPhases; ++phase) {
            RunPhase(phase);
        }
        Closing();
    });
}

void Solver::FindBlank() {
    const Cell blank = puzzle_.Find(kBlank);
    BlankX = blank.x;
    BlankY = blank.y;
}

void Solver::RunPhase(int phase) {
    // Inside a member, so the table may name the end rules, which are private.
    static constexpr std::array<PhaseRule, kPhases> kRules{{
        {12, {{{kLeft, 0}, {kUp, 0}}}, 2, nullptr},              // 1
        {2, {{{kLeft, 1}, {kRight, 1}, {kUp, 0}}}, 3, nullptr},  // 2
        {1, {{{kRight, 2}, {kUp, 0}, {kLeft, 2}}}, 3, nullptr},  // 3: climbs before it moves left
        {10, {}, 0, &Solver::RowEndPhase4},                      // 4
        {3, {{{kLeft, 0}, {kUp, 1}}}, 2, nullptr},               // 5
        {7, {{{kLeft, 1}, {kRight, 1}, {kUp, 1}}}, 3, nullptr},  // 6
        {6, {{{kRight, 2}, {kLeft, 2}, {kUp, 1}}}, 3, nullptr},  // 7: sideways before it climbs
        {15, {}, 0, &Solver::RowEndPhase8},                      // 8
        {5, {{{kLeft, 0}, {kDown, 3}}}, 2, nullptr},             // 9
        {8, {}, 0, &Solver::ColumnEndPhase10},                   // 10
        {14, {{{kLeft, 1}, {kDown, 3}}}, 2, nullptr},            // 11
        {11, {}, 0, &Solver::ColumnEndPhase12},                  // 12
        {4, {{{kLeft, 2}, {kUp, 2}}}, 2, nullptr},               // 13
    }};
    if (phase >= 1 && phase <= kPhases) {
        AsOneRun([this, phase] { RunRule(*std::next(kRules.begin(), phase - 1)); });
    }
}

void Solver::RunRule(const PhaseRule& rule) {
    Cell tile = puzzle_.Find(rule.tile);
    for (const TileLoop& loop : std::span(rule.loops).first(rule.loop_count)) {
        switch (loop.move) {
            case kLeft:
                while (tile.x > loop.target) {
                    MoveTileLeft(tile);
                }
                break;
            case kRight:
                while (tile.x < loop.target) {
                    MoveTileRight(tile);
                }
                break;
            case kUp:
                while (tile.y > loop.target) {
                    MoveTileUp(tile);
                }
                break;
            case kDown:
                while (tile.y < loop.target) {
                    MoveTileDown(tile);
                }
                break;
        }
    }
    if (rule.end_rule != nullptr) {
        (this->*rule.end_rule)(rule.tile, tile);
    }
}

void Solver::MoveTile(void (Solver::*route)(int, int), void (Solver::*step)(), Cell by,
                      Cell& tile) {
    (this->*route)(tile.x, tile.y);
    (this->*step)();
    tile = tile + by;
}

void Solver::MoveTileLeft(Cell& tile) {
    MoveTile(&Solver::Hy0, &Solver::BlankRight, offset::kLeft, tile);
}
void Solver::MoveTileRight(Cell& tile) {
    MoveTile(&Solver::My0, &Solver::BlankLeft, offset::kRight, tile);
}
void Solver::MoveTileUp(Cell& tile) {
    MoveTile(&Solver::Su0, &Solver::BlankDown, offset::kUp, tile);
}
void Solver::MoveTileDown(Cell& tile) {
    MoveTile(&Solver::Ss0, &Solver::BlankUp, offset::kDown, tile);
}

// Tile 10 to (3,0): to column 3, then two cells below home unless it can step straight in.
void Solver::RowEndPhase4(int /*number*/, Cell& tile) {
    while (tile.x < 3) {
        MoveTileRight(tile);
    }
    if (tile.y == 3) {
        MoveTileUp(tile);
    }
    if (tile.y == 1) {
        if (BlankX == 3 && BlankY == 0) {
            BlankDown();
            tile.y = 0;
        } else {
            MoveTileDown(tile);
        }
    }
    if (tile.y == 2) {
        if (!(BlankX == 2 && BlankY == 1)) {
            Hy0(3, 2);
            BlankUp();
        }
        RowEndSequence(0);
        tile.y = 0;
    }
}

// Tile 15 to (3,1): the same plan a row lower, the blank walked to (2,2) step by step.
void Solver::RowEndPhase8(int /*number*/, Cell& tile) {
    while (tile.x < 3) {
        MoveTileRight(tile);
    }
    if (tile.y == 2) {
        if (BlankX == 3 && BlankY == 1) {
            BlankDown();
            tile.y = 1;
        } else {
            MoveTileDown(tile);
        }
    }
    if (tile.y == 3) {
        if (!(BlankX == 2 && BlankY == 2)) {
            if (BlankX == 3 && BlankY == 1) {
                BlankDown();
            }
            if (BlankX == 3 && BlankY == 2) {
                BlankLeft();
            }
            if (BlankY == 3) {
                BlankUp();
            }
            while (BlankX < 2) {
                BlankRight();
            }
        }
        RowEndSequence(1);
        tile.y = 1;
    }
}

// Tile 8 to (0,2): brought to (2,2), the blank to (1,3), then the column-end turn.
// Phases 10 and 12 follow one plan but stay two functions: their steps differ (phase 10 meets
// its tile in column 1 or 3 and walks the blank left with a loop; phase 12 meets it only in
// column 2 and steps left at most once), and one function would hide that behind conditions.
void Solver::ColumnEndPhase10(int number, Cell& tile) {
    if (tile.x <= 0) {
        return;
    }
    if (BlankX == 0 && BlankY == 2) {
        BlankRight();
        if (puzzle_.At(0, 2) == number) {
            tile.x = 0;
        }
    }
    if (tile.x <= 0) {
        return;
    }
    if (tile.y == 3) {
        MoveTileUp(tile);
    }
    if (tile.x == 1) {
        MoveTileRight(tile);
    }
    if (tile.x == 3) {
        MoveTileLeft(tile);
    }
    if (BlankY == 2 && BlankX != 2) {
        BlankDown();
    }
    while (BlankX > 1) {
        BlankLeft();
    }
    ColumnEndSequence(0);
    tile.x = 0;
}

// Tile 11 to (1,2): the same plan a column further right.
void Solver::ColumnEndPhase12(int number, Cell& tile) {
    if (tile.x <= 1) {
        return;
    }
    if (BlankX == 1 && BlankY == 2) {
        BlankRight();
        if (puzzle_.At(1, 2) == number) {
            tile.x = 1;
        }
    }
    if (tile.x <= 1) {
        return;
    }
    if (tile.y == 3) {
        MoveTileUp(tile);
    }
    if (tile.x == 2) {
        MoveTileRight(tile);
    }
    if (BlankY == 2) {
        BlankDown();
    }
    if (BlankX > 2) {
        BlankLeft();
    }
    ColumnEndSequence(1);
    tile.x = 1;
}

// From the blank at (2, r+1), the row's last tile T at (3, r+2) and its neighbour P at (2, r):
// T ends home at (3, r), P back at (2, r), the blank at (3, r+1).
void Solver::RowEndSequence([[maybe_unused]] int r) {
    assert(BlankX == 2 && BlankY == r + 1);
    BlankUp();
    BlankRight();
    BlankDown();
    BlankLeft();
    BlankUp();
    BlankRight();
    BlankDown();
    BlankDown();
    BlankLeft();
    BlankUp();
    BlankUp();
    BlankRight();
    BlankDown();
}

// RowEndSequence turned a quarter, from the blank at (c+1, 3): T ends home at (c, 2).
void Solver::ColumnEndSequence([[maybe_unused]] int c) {
    assert(BlankX == c + 1 && BlankY == 3);
    BlankLeft();
    BlankUp();
    BlankRight();
    BlankDown();
    BlankLeft();
    BlankUp();
    BlankRight();
    BlankRight();
    BlankDown();
    BlankLeft();
    BlankLeft();
    BlankUp();
    BlankRight();
}

void Solver::Closing() {
    AsOneRun([this] { ClosePath(); });
}

// After phase 13 the blank, 9 and 13 share (3,2), (2,3) and (3,3) in the one order parity
// allows; two steps at most make SolveLayout, four more walk the path back to the goal.
void Solver::ClosePath() {
    if (puzzle_.At(3, 2) == kBlank) {
        BlankDown();
    }
    if (puzzle_.At(3, 3) == kBlank) {
        BlankLeft();
    }
    BlankLeft();
    BlankLeft();
    BlankUp();
    BlankUp();
}

}  // namespace koma
