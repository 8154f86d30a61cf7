// Which cell a tile's picture stands on, from the picture's top-left pixel: the one mapping
// from the screen back to the board, for every test that reads the board off its pictures.
#pragma once

#include <vector>

#include "board/layout.h"

namespace koma::testing {

// The cell whose picture starts at (left, top); kNoCell when that is not exactly a cell.
constexpr Cell PictureCell(int left, int top) {
    const int x = left - kBoardOrigin;
    const int y = top - kBoardOrigin;
    if (x < 0 || y < 0 || x % CellSize != 0 || y % CellSize != 0) {
        return kNoCell;
    }
    const Cell cell{x / CellSize, y / CellSize};
    return IsOnBoard(cell) ? cell : kNoCell;
}

}  // namespace koma::testing
