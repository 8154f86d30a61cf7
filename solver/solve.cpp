// The solving sequence: thirteen phases, one tile each, then the closing.
#include <array>
#include <cassert>

#include "solver/solver.h"

namespace koma {

namespace {

enum class TileMove { kLeft, kRight, kUp, kDown };

// "while the tile's column (or row) is beyond target: move it one cell towards it".
struct TileLoop {
    TileMove move;
    int target;
};

struct LoopPhase {
    int tile;
    std::array<TileLoop, 3> loops;
    int loop_count;
};

using enum TileMove;

// Phases that only slide their tile home. The loop order matters: it decides the route.
constexpr std::array<LoopPhase, 9> kLoopPhases{{
    {12, {{{kLeft, 0}, {kUp, 0}}}, 2},              // 1
    {2, {{{kLeft, 1}, {kRight, 1}, {kUp, 0}}}, 3},  // 2
    {1, {{{kRight, 2}, {kUp, 0}, {kLeft, 2}}}, 3},  // 3: climbs before it moves left
    {3, {{{kLeft, 0}, {kUp, 1}}}, 2},               // 5
    {7, {{{kLeft, 1}, {kRight, 1}, {kUp, 1}}}, 3},  // 6
    {6, {{{kRight, 2}, {kLeft, 2}, {kUp, 1}}}, 3},  // 7: sideways before it climbs
    {5, {{{kLeft, 0}, {kDown, 3}}}, 2},             // 9
    {14, {{{kLeft, 1}, {kDown, 3}}}, 2},            // 11
    {4, {{{kLeft, 2}, {kUp, 2}}}, 2},               // 13
}};

// Index into kLoopPhases for phases 1..13 that are plain loops; -1 for the end phases.
constexpr std::array<int, Solver::kPhases> kLoopPhaseIndex{0,  1, 2,  -1, 3,  4, 5,
                                                           -1, 6, -1, 7,  -1, 8};

}  // namespace

void Solver::Button1Click() {
    puzzle_.view().SetSolverButtonVisible(false);  // locks the board before anything is read
    FindBlank();
    for (int phase = 1; phase <= kPhases; ++phase) {
        RunPhase(phase);
    }
    Closing();
}

void Solver::FindBlank() {
    const Cell blank = puzzle_.FindTile(kBlank);
    BlankX = blank.x;
    BlankY = blank.y;
}

void Solver::RunPhase(int phase) {
    switch (phase) {
        case 4:
            RowEndPhase4();
            return;
        case 8:
            RowEndPhase8();
            return;
        case 10:
            ColumnEndPhase10();
            return;
        case 12:
            ColumnEndPhase12();
            return;
        default:
            if (phase >= 1 && phase <= kPhases) {
                RunLoopPhase(phase);
            }
    }
}

void Solver::MoveTileLeft(Cell& tile) {
    Hy0(tile.x, tile.y);
    BlankRight();
    --tile.x;
}

void Solver::MoveTileRight(Cell& tile) {
    My0(tile.x, tile.y);
    BlankLeft();
    ++tile.x;
}

void Solver::MoveTileUp(Cell& tile) {
    Su0(tile.x, tile.y);
    BlankDown();
    --tile.y;
}

void Solver::MoveTileDown(Cell& tile) {
    Ss0(tile.x, tile.y);
    BlankUp();
    ++tile.y;
}

void Solver::RunLoopPhase(int phase) {
    const int index = kLoopPhaseIndex.at(static_cast<std::size_t>(phase - 1));
    assert(index >= 0);
    const LoopPhase& rule = kLoopPhases.at(static_cast<std::size_t>(index));
    Cell tile = puzzle_.FindTile(rule.tile);
    for (int i = 0; i < rule.loop_count; ++i) {
        const TileLoop& loop = rule.loops.at(static_cast<std::size_t>(i));
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
}

// Tile 10 to (3,0): to column 3, then two cells below home unless it can step straight in.
void Solver::RowEndPhase4() {
    Cell tile = puzzle_.FindTile(10);
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
void Solver::RowEndPhase8() {
    Cell tile = puzzle_.FindTile(15);
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
void Solver::ColumnEndPhase10() {
    Cell tile = puzzle_.FindTile(8);
    if (tile.x <= 0) {
        return;
    }
    if (BlankX == 0 && BlankY == 2) {
        BlankRight();
        if (puzzle_.At(0, 2) == 8) {
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
void Solver::ColumnEndPhase12() {
    Cell tile = puzzle_.FindTile(11);
    if (tile.x <= 1) {
        return;
    }
    if (BlankX == 1 && BlankY == 2) {
        BlankRight();
        if (puzzle_.At(1, 2) == 11) {
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

// After phase 13 the blank, 9 and 13 share (3,2), (2,3) and (3,3) in the one order parity
// allows; two steps at most make SolveLayout, four more walk the path back to the goal.
void Solver::Closing() {
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
