#include "board/puzzle.h"

#include <cassert>
#include <cstdlib>

namespace koma {

namespace {

constexpr bool AreNeighbours(Cell a, Cell b) {
    return std::abs(a.x - b.x) + std::abs(a.y - b.y) == 1;
}

}  // namespace

Puzzle::Puzzle(View& view, const Grid& board) : view_(&view), Board(board) {
    assert(board.IsPermutation());
    for (int x = 0; x < kColumns; ++x) {
        for (int y = 0; y < kRows; ++y) {
            PlaceTile(Board[x][y], x, y);
        }
    }
}

void Puzzle::PlaceTile(int tile, int x, int y) {
    if (tile < 0 || tile >= kCells) {
        return;
    }
    view_->MoveTilePicture(tile, CellLeft(x), CellTop(y));
}

void Puzzle::Modosu() {
    // Row by row, storing each cell and then placing its picture, as at start-up.
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kColumns; ++x) {
            const int tile = StartLayout[x][y];
            Board[x][y] = tile;
            PlaceTile(tile, x, y);
        }
    }
}

int Puzzle::Kanseika() const {
    return Board == GoalLayout ? 1 : 0;
}

void Puzzle::Shape1MouseDown(int X, int Y) {
    if (!view_->IsSolverButtonVisible()) {
        return;  // the board is locked after a completion or a computer solve
    }
    // Truncating division: X = 0 lands in column 0 together with X = 1..96.
    const Cell clicked{(X - 1) / CellSize, (Y - 1) / CellSize};
    if (!IsOnBoard(clicked)) {
        return;
    }
    if (Board[clicked] < 1) {
        return;  // a click on the blank
    }
    // Right, left, below, above: there is one blank, so at most one of them slides.
    for (const Cell side : {offset::kRight, offset::kLeft, offset::kDown, offset::kUp}) {
        const Cell neighbour = clicked + side;
        if (IsOnBoard(neighbour) && Board[neighbour] == kBlank) {
            Slide(clicked, neighbour);
            break;
        }
    }
    if (Kanseika() == 1) {
        Dekita();
    }
}

void Puzzle::Dekita() {
    if (view_->IsSoundOn()) {
        view_->PlayEffect();
    }
    view_->ShowNotice("できた!!!!");
    view_->SetSolverButtonVisible(false);
}

void Puzzle::Button3Click() {
    Modosu();
    view_->SetSolverButtonVisible(true);
}

bool Puzzle::Slide(Cell from, Cell blank, const std::function<void()>& between) {
    if (!IsOnBoard(from) || !IsOnBoard(blank) || !AreNeighbours(from, blank) ||
        Board[blank] != kBlank) {
        return false;
    }
    const int tile = Board[from];
    PlaceTile(tile, blank.x, blank.y);
    PlaceTile(kBlank, from.x, from.y);
    if (between) {
        between();
    }
    Board[blank] = tile;
    Board[from] = kBlank;
    return true;
}

}  // namespace koma
