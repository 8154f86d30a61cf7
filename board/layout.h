// The board's geometry and the fixed arrangements the game knows.
#pragma once

#include "board/grid.h"

namespace koma {

// Pitch of the board in pixels; pictures are one pixel narrower, which leaves the gutters
// that the window's grid lines fall into.
inline constexpr int CellSize = 96;
inline constexpr int kPictureSize = 95;
// Client position of the top-left pixel of cell (0, 0)'s picture.
inline constexpr int kBoardOrigin = 10;

// Shown at start-up and after a restart.
inline constexpr Grid StartLayout = Grid::FromRows({
    12, 3, 2, 9,   //
    0, 7, 6, 15,   //
    4, 1, 10, 11,  //
    8, 5, 14, 13,  //
});

// The only arrangement that counts as solved: the whole ballpark scene.
inline constexpr Grid GoalLayout = Grid::FromRows({
    12, 2, 1, 10,  //
    0, 7, 6, 15,   //
    3, 11, 4, 9,   //
    8, 5, 14, 13,  //
});

// Client pixel of the top-left corner of the picture standing in column x / row y.
constexpr int CellLeft(int x) {
    return x * CellSize + kBoardOrigin;
}
constexpr int CellTop(int y) {
    return y * CellSize + kBoardOrigin;
}

}  // namespace koma
