#include "tools/common/arrangement.h"

#include <array>
#include <cstdlib>

namespace koma {

namespace {

// Reading-order cell of every tile.
std::array<int, kCells> CellOfTile(const Grid& grid) {
    std::array<int, kCells> cell{};
    for (int tile = 0; tile < kCells; ++tile) {
        const Cell at = grid.Find(tile);
        cell.at(ArrayIndex(tile)) = at.y * kColumns + at.x;
    }
    return cell;
}

// Parity (0 even, 1 odd) of a permutation, from its cycle lengths.
int Parity(const std::array<int, kCells>& permutation) {
    std::array<bool, kCells> seen{};
    int transpositions = 0;
    for (int start = 0; start < kCells; ++start) {
        for (int i = start; !seen.at(ArrayIndex(i)); i = permutation.at(ArrayIndex(i))) {
            seen.at(ArrayIndex(i)) = true;
            if (i != start) {
                ++transpositions;
            }
        }
    }
    return transpositions % 2;
}

}  // namespace

bool IsReachableFromStart(const Grid& grid) {
    if (!grid.IsPermutation()) {
        return false;
    }
    const std::array<int, kCells> from = CellOfTile(StartLayout);
    const std::array<int, kCells> to = CellOfTile(grid);
    // Cell permutation that carries every tile from its start cell to its cell in grid.
    std::array<int, kCells> moved{};
    for (int tile = 0; tile < kCells; ++tile) {
        moved.at(ArrayIndex(from.at(ArrayIndex(tile)))) = to.at(ArrayIndex(tile));
    }
    const int blank_from = from.at(ArrayIndex(kBlank));
    const int blank_to = to.at(ArrayIndex(kBlank));
    const int distance = std::abs(blank_from % kColumns - blank_to % kColumns) +
                         std::abs(blank_from / kColumns - blank_to / kColumns);
    return Parity(moved) == distance % 2;
}

}  // namespace koma
