// The board's geometry and the fixed arrangements the game knows.
#pragma once

#include <array>

namespace koma {

inline constexpr int kColumns = 4;
inline constexpr int kRows = 4;
inline constexpr int kCells = kColumns * kRows;
inline constexpr int kBlank = 0;

// Pitch of the board in pixels; pictures are one pixel narrower, which leaves the gutters
// that the window's grid lines fall into.
inline constexpr int CellSize = 96;
inline constexpr int kPictureSize = 95;
// Client position of the top-left pixel of cell (0, 0)'s picture.
inline constexpr int kBoardOrigin = 10;

// Grid[x][y]: x the column from the left, y the row from the top; 0 is the blank.
using Grid = std::array<std::array<int, kRows>, kColumns>;

// Builds a Grid from rows written top to bottom, each left to right, as people read a board.
constexpr Grid GridFromRows(const std::array<int, kCells>& rows) {
    Grid grid{};
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kColumns; ++x) {
            const int index = y * kColumns + x;
            grid.at(static_cast<std::size_t>(x)).at(static_cast<std::size_t>(y)) =
                rows.at(static_cast<std::size_t>(index));
        }
    }
    return grid;
}

// Shown at start-up and after a restart.
inline constexpr Grid StartLayout = GridFromRows({
    12, 3, 2, 9,   //
    0, 7, 6, 15,   //
    4, 1, 10, 11,  //
    8, 5, 14, 13,  //
});

// The only arrangement that counts as solved: the whole ballpark scene.
inline constexpr Grid GoalLayout = GridFromRows({
    12, 2, 1, 10,  //
    0, 7, 6, 15,   //
    3, 11, 4, 9,   //
    8, 5, 14, 13,  //
});

constexpr bool IsOnBoard(int x, int y) {
    return x >= 0 && x < kColumns && y >= 0 && y < kRows;
}

// Client pixel of the top-left corner of the picture standing in column x / row y.
constexpr int CellLeft(int x) {
    return x * CellSize + kBoardOrigin;
}
constexpr int CellTop(int y) {
    return y * CellSize + kBoardOrigin;
}

}  // namespace koma
