// The board as a value: sixteen tile numbers, addressed board[x][y] with x the column from the
// left and y the row from the top; 0 is the blank.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace koma {

inline constexpr int kColumns = 4;
inline constexpr int kRows = 4;
inline constexpr int kCells = kColumns * kRows;
inline constexpr int kBlank = 0;

// A cell of the board: x the column, y the row.
struct Cell {
    int x = 0;
    int y = 0;
    bool operator==(const Cell&) const = default;
};

// Where a search finds nothing.
inline constexpr Cell kNoCell{-1, -1};

// The four neighbours of a cell, as offsets from it; the one table of directions.
namespace offset {
inline constexpr Cell kLeft{-1, 0};
inline constexpr Cell kRight{1, 0};
inline constexpr Cell kUp{0, -1};
inline constexpr Cell kDown{0, 1};
}  // namespace offset

constexpr Cell operator+(Cell cell, Cell offset) {
    return {cell.x + offset.x, cell.y + offset.y};
}

constexpr bool IsOnBoard(int x, int y) {
    return x >= 0 && x < kColumns && y >= 0 && y < kRows;
}
constexpr bool IsOnBoard(Cell cell) {
    return IsOnBoard(cell.x, cell.y);
}

// Board coordinates and tile numbers are ints; arrays want sizes. This is the one place that
// turns one into the other.
constexpr std::size_t ArrayIndex(int i) {
    return static_cast<std::size_t>(i);
}

class Grid {
  public:
    // One column, indexed by row. Indices are checked: a wrong one throws, never reads astray.
    class Column {
      public:
        constexpr int& operator[](int y) { return rows_.at(ArrayIndex(y)); }
        constexpr int operator[](int y) const { return rows_.at(ArrayIndex(y)); }
        bool operator==(const Column&) const = default;

      private:
        std::array<int, kRows> rows_{};
    };

    // The sixteen values in reading order: rows top to bottom, each left to right.
    using RowOrder = std::array<int, kCells>;

    constexpr Grid() = default;

    // From rows written as people read a board.
    static constexpr Grid FromRows(const RowOrder& rows) {
        Grid grid;
        for (int i = 0; i < kCells; ++i) {
            grid[i % kColumns][i / kColumns] = rows.at(ArrayIndex(i));
        }
        return grid;
    }
    constexpr RowOrder Rows() const {
        RowOrder rows{};
        for (int i = 0; i < kCells; ++i) {
            rows.at(ArrayIndex(i)) = (*this)[i % kColumns][i / kColumns];
        }
        return rows;
    }

    constexpr Column& operator[](int x) { return columns_.at(ArrayIndex(x)); }
    constexpr const Column& operator[](int x) const { return columns_.at(ArrayIndex(x)); }
    constexpr int& operator[](Cell cell) { return (*this)[cell.x][cell.y]; }
    constexpr int operator[](Cell cell) const { return (*this)[cell.x][cell.y]; }

    // The cell holding `tile`, scanning columns left to right and each column top to bottom;
    // kNoCell when it is not there.
    constexpr Cell Find(int tile) const {
        for (int x = 0; x < kColumns; ++x) {
            for (int y = 0; y < kRows; ++y) {
                if ((*this)[x][y] == tile) {
                    return {x, y};
                }
            }
        }
        return kNoCell;
    }

    // True when every value 0..15 stands on the board exactly once.
    constexpr bool IsPermutation() const {
        for (int tile = 0; tile < kCells; ++tile) {
            if (Find(tile) == kNoCell) {
                return false;  // sixteen cells, sixteen values: a missing one means a repeat
            }
        }
        return true;
    }

    bool operator==(const Grid&) const = default;

  private:
    std::array<Column, kColumns> columns_{};
};

// The rows as text, top to bottom and each left to right, one space between values:
// "12 3 2 9 0 7 …".
std::string RowsText(const Grid& grid);

}  // namespace koma
