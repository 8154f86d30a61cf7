// Arrangements the solver works towards, and which arrangements play can produce at all.
#pragma once

#include "board/layout.h"

namespace koma {

// What phases 1 to 13 build: the goal with the tiles on the path (0,1) -> (0,2) -> (0,3) ->
// (1,3) -> (2,3) one cell earlier along it and the blank at its far end. The closing walks the
// blank back along the path.
inline constexpr Grid SolveLayout = Grid::FromRows({
    12, 2, 1, 10,  //
    3, 7, 6, 15,   //
    8, 11, 4, 9,   //
    5, 14, 0, 13,  //
});

// True when grid holds every tile once and can be reached from StartLayout by slides: every
// slide swaps two cells and moves the blank by one, so the parity of the permutation must
// match the parity of the blank's distance from its start cell.
bool IsReachableFromStart(const Grid& grid);

}  // namespace koma
