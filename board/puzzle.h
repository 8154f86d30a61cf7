// The puzzle board: which tile stands where, the player's moves, completion and restart.
#pragma once

#include <functional>

#include "board/layout.h"
#include "board/view.h"

namespace koma {

class Puzzle {
  public:
    using Cell = koma::Cell;

    // The start arrangement; the window places the pictures with Modosu() once it has them.
    explicit Puzzle(View& view) : view_(&view) {}
    // Any arrangement, for tests and tools: `board` must hold each of 0..15 once. Every picture
    // is placed on its cell at once.
    Puzzle(View& view, const Grid& board);

    const Grid& cells() const { return Board; }
    int At(int x, int y) const { return Board[x][y]; }
    // Scans columns left to right and each column top to bottom; kNoCell when absent.
    Cell Find(int tile) const { return Board.Find(tile); }

    // Moves tile's picture (0 is the blank's) to cell (x, y). Tile numbers outside 0..15 do
    // nothing. It does not touch the board.
    void PlaceTile(int tile, int x, int y);

    // Puts the start arrangement back, on the board and on screen.
    void Modosu();

    // 1 when the board is the goal arrangement, otherwise 0.
    int Kanseika() const;

    // A mouse press on the board frame at (X, Y), relative to the frame's top-left corner.
    void Shape1MouseDown(int X, int Y);

    // The completion: fanfare (with sound on), "できた!!!!", then the board locks.
    void Dekita();

    // The restart button.
    void Button3Click();

    // The only way the board changes, for the player's clicks and the solver's steps alike:
    // the tile at `from` slides into the blank at `blank`. Its picture moves to `blank`, the
    // blank's picture to `from`, then `between` runs (the solver's pause shows the pictures
    // there), and only then the board changes. Anything but a tile beside the blank on the
    // board is refused and changes nothing. Returns whether it slid.
    bool Slide(Cell from, Cell blank, const std::function<void()>& between = {});

  private:
    View* view_;  // a pointer, so that a whole board can be assigned
    Grid Board = StartLayout;
};

}  // namespace koma
