#include "board/puzzle.h"

#include <cstdlib>

namespace koma {

namespace {

constexpr std::size_t Index(int i) {
    return static_cast<std::size_t>(i);
}

constexpr bool AreNeighbours(int ax, int ay, int bx, int by) {
    return std::abs(ax - bx) + std::abs(ay - by) == 1;
}

}  // namespace

int Puzzle::At(int x, int y) const {
    return Board.at(Index(x)).at(Index(y));
}

int& Puzzle::CellRef(int x, int y) {
    return Board.at(Index(x)).at(Index(y));
}

void Puzzle::PlaceTile(int tile, int x, int y) {
    if (tile < 0 || tile >= kCells) {
        return;
    }
    view_.MoveTilePicture(tile, CellLeft(x), CellTop(y));
}

void Puzzle::Modosu() {
    // Row by row, storing each cell and then placing its picture, as at start-up.
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kColumns; ++x) {
            const int tile = StartLayout.at(Index(x)).at(Index(y));
            CellRef(x, y) = tile;
            PlaceTile(tile, x, y);
        }
    }
}

int Puzzle::Kanseika() const {
    return Board == GoalLayout ? 1 : 0;
}

void Puzzle::Shape1MouseDown(int X, int Y) {
    if (!view_.IsSolverButtonVisible()) {
        return;  // the board is locked after a completion or a computer solve
    }
    // Truncating division: X = 0 lands in column 0 together with X = 1..96.
    const int c = (X - 1) / CellSize;
    const int r = (Y - 1) / CellSize;
    if (!IsOnBoard(c, r)) {
        return;
    }
    const int t = At(c, r);
    if (t < 1) {
        return;  // a click on the blank
    }
    struct Offset {
        int dx;
        int dy;
    };
    // Right, left, below, above: the order decides nothing (there is one blank) but is kept.
    constexpr Offset kNeighbours[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const Offset& n : kNeighbours) {
        const int nx = c + n.dx;
        const int ny = r + n.dy;
        if (IsOnBoard(nx, ny) && At(nx, ny) == kBlank) {
            CellRef(nx, ny) = t;
            CellRef(c, r) = kBlank;
            PlaceTile(t, nx, ny);
            PlaceTile(kBlank, c, r);
        }
    }
    if (Kanseika() == 1) {
        Dekita();
    }
}

void Puzzle::Dekita() {
    if (view_.IsSoundOn()) {
        view_.PlayEffect();
    }
    view_.ShowNotice("できた!!!!");
    view_.SetSolverButtonVisible(false);
}

void Puzzle::Button3Click() {
    Modosu();
    view_.SetSolverButtonVisible(true);
}

bool Puzzle::SlideIntoBlank(int from_x, int from_y, int blank_x, int blank_y) {
    if (!IsOnBoard(from_x, from_y) || !IsOnBoard(blank_x, blank_y) ||
        !AreNeighbours(from_x, from_y, blank_x, blank_y) || At(blank_x, blank_y) != kBlank) {
        return false;
    }
    CellRef(blank_x, blank_y) = At(from_x, from_y);
    CellRef(from_x, from_y) = kBlank;
    return true;
}

Puzzle::Cell Puzzle::FindTile(int tile) const {
    for (int x = 0; x < kColumns; ++x) {
        for (int y = 0; y < kRows; ++y) {
            if (At(x, y) == tile) {
                return {x, y};
            }
        }
    }
    return {-1, -1};
}

void Puzzle::SetCells(const Grid& grid) {
    Board = grid;
    for (int x = 0; x < kColumns; ++x) {
        for (int y = 0; y < kRows; ++y) {
            PlaceTile(At(x, y), x, y);
        }
    }
}

}  // namespace koma
