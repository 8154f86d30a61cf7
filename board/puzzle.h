// The puzzle board: which tile stands where, the player's moves, completion and restart.
#pragma once

#include "board/layout.h"
#include "board/view.h"

namespace koma {

class Puzzle {
  public:
    // The board starts in the start arrangement; Modosu() puts the pictures there too.
    explicit Puzzle(View& view) : view_(view) {}

    View& view() const { return view_; }
    const Grid& cells() const { return Board; }
    int At(int x, int y) const;

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

    // Moves the tile at (from_x, from_y) into the blank at (blank_x, blank_y). The two cells
    // must be neighbours on the board with the blank where named; otherwise nothing changes.
    // Returns whether it moved. Pictures are the caller's business.
    bool SlideIntoBlank(int from_x, int from_y, int blank_x, int blank_y);

    // Finds the blank, scanning columns left to right and each column top to bottom.
    struct Cell {
        int x;
        int y;
    };
    Cell FindTile(int tile) const;

    // Test and tool hook: replaces the whole board (pictures follow). The caller supplies a
    // permutation of 0..15.
    void SetCells(const Grid& grid);

  private:
    int& CellRef(int x, int y);

    View& view_;
    Grid Board = StartLayout;
};

}  // namespace koma
