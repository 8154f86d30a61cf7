#include "solver/arrangement.h"

#include <array>
#include <cstdlib>

namespace koma {

namespace {

constexpr std::size_t Index(int i) {
    return static_cast<std::size_t>(i);
}

// Reading-order cell of every tile.
std::array<int, kCells> CellOfTile(const Grid& grid) {
    std::array<int, kCells> cell{};
    for (int x = 0; x < kColumns; ++x) {
        for (int y = 0; y < kRows; ++y) {
            cell.at(Index(grid.at(Index(x)).at(Index(y)))) = y * kColumns + x;
        }
    }
    return cell;
}

// Parity (0 even, 1 odd) of a permutation, from its cycle lengths.
int Parity(const std::array<int, kCells>& permutation) {
    std::array<bool, kCells> seen{};
    int transpositions = 0;
    for (int start = 0; start < kCells; ++start) {
        for (int i = start; !seen.at(Index(i)); i = permutation.at(Index(i))) {
            seen.at(Index(i)) = true;
            if (i != start) {
                ++transpositions;
            }
        }
    }
    return transpositions % 2;
}

}  // namespace

bool HoldsEveryTileOnce(const Grid& grid) {
    std::array<bool, kCells> seen{};
    for (const auto& column : grid) {
        for (const int tile : column) {
            if (tile < 0 || tile >= kCells || seen.at(Index(tile))) {
                return false;
            }
            seen.at(Index(tile)) = true;
        }
    }
    return true;
}

bool IsReachableFromStart(const Grid& grid) {
    if (!HoldsEveryTileOnce(grid)) {
        return false;
    }
    const std::array<int, kCells> from = CellOfTile(StartLayout);
    const std::array<int, kCells> to = CellOfTile(grid);
    // Cell permutation that carries every tile from its start cell to its cell in grid.
    std::array<int, kCells> moved{};
    for (int tile = 0; tile < kCells; ++tile) {
        moved.at(Index(from.at(Index(tile)))) = to.at(Index(tile));
    }
    const int blank_from = from.at(Index(kBlank));
    const int blank_to = to.at(Index(kBlank));
    const int distance = std::abs(blank_from % kColumns - blank_to % kColumns) +
                         std::abs(blank_from / kColumns - blank_to / kColumns);
    return Parity(moved) == distance % 2;
}

}  // namespace koma
