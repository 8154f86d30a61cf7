// The four routes that bring the blank beside a tile without moving that tile. Each decides
// only from the tracked blank and the target cell, never from tile numbers.
#include "solver/solver.h"

namespace koma {

bool Solver::RouteStarts(bool has_goal, std::string_view message, Cell target, Cell goal) {
    if (!has_goal) {
        view_.ShowNotice(message);
        return false;
    }
    if (!IsOnBoard(target) || !TrackedBlankIsReal()) {
        Fault("route with a target off the board or a tracked cell that does not hold the blank");
        return false;
    }
    return blank() != goal;  // already there: no step, no pause, no repaint
}

void Solver::Hy0(int x, int y) {
    if (!RouteStarts(x != 0, "Hy0エラー", {x, y}, {x - 1, y})) {
        return;
    }
    if (y == 3) {  // through row 2, ending along the bottom row
        while (BlankY < 2) {
            BlankDown();
        }
        if (BlankY == 3 && BlankX > x) {
            BlankUp();
        }
        if (BlankY == 2) {
            while (BlankX >= x) {
                BlankLeft();
            }
            BlankDown();
        }
        while (BlankX + 1 < x) {
            BlankRight();
        }
        return;
    }
    if (x == 3) {  // through column 2, ending up or down it
        while (BlankX < 2) {
            BlankRight();
        }
        if (BlankX == 3) {
            while (BlankY + 1 < y) {
                BlankDown();
            }
            BlankLeft();
        }
        if (BlankX != 2) {
            view_.ShowNotice("Hy0エラー3");
            return;
        }
        while (BlankY > y) {
            BlankUp();
        }
        while (BlankY < y) {
            BlankDown();
        }
        return;
    }
    // Around the right of the target and in under it.
    if (BlankX <= x && BlankY < y) {
        while (BlankX <= x) {
            BlankRight();
        }
    }
    if (BlankX > x && BlankY <= y) {
        while (BlankY <= y) {
            BlankDown();
        }
    }
    if (BlankX >= x && BlankY > y) {
        while (BlankX >= x) {
            BlankLeft();
        }
    }
    if (BlankX < x - 1 && BlankY >= y) {
        while (BlankX < x - 1) {
            BlankRight();
        }
    }
    if (BlankX < x && BlankY > y) {
        do {
            BlankUp();
        } while (BlankY != y);
    }
}

void Solver::My0(int x, int y) {
    if (!RouteStarts(x != 3, "My0エラー", {x, y}, {x + 1, y})) {
        return;
    }
    if (y == 3) {  // the mirror of Hy0's bottom row
        while (BlankY < 2) {
            BlankDown();
        }
        if (BlankY == 3 && BlankX < x) {
            BlankUp();
        }
        if (BlankY == 2) {
            while (BlankX <= x) {
                BlankRight();
            }
            BlankDown();
        }
        while (BlankX - 1 > x) {
            BlankLeft();
        }
        return;
    }
    if (BlankX == x && BlankY < y) {
        BlankRight();
    }
    if (BlankX > x && BlankY < y) {
        while (BlankY < y) {
            BlankDown();
        }
    }
    if (BlankX < x && BlankY <= y) {
        while (BlankY <= y) {
            BlankDown();
        }
    }
    while (BlankX <= x) {
        BlankRight();
    }
    if (BlankX > x && BlankY > y) {
        do {
            BlankUp();
        } while (BlankY != y);
    }
    if (!(BlankX > x && BlankY == y)) {
        view_.ShowNotice("Hy0エラー2");  // My0's own check; the text is as it always was
        return;
    }
    while (BlankX - 1 > x) {
        BlankLeft();
    }
}

void Solver::Su0(int x, int y) {
    if (!RouteStarts(y != 0, "Su0エラー", {x, y}, {x, y - 1})) {
        return;
    }
    if (x == 3) {  // through column 2, ending along the right-hand column
        while (BlankX < 2) {
            BlankRight();
        }
        if (BlankX == 3 && BlankY > y) {
            BlankLeft();
        }
        if (BlankX == 2) {
            while (BlankY >= y) {
                BlankUp();
            }
            BlankRight();
        }
        while (BlankY + 1 < y) {
            BlankDown();
        }
        return;
    }
    if (y == 3) {  // along row 2
        while (BlankY < 2) {
            BlankDown();
        }
        if (BlankY == 3) {
            BlankUp();
        }
        while (BlankX < x) {
            BlankRight();
        }
        while (BlankX > x) {
            BlankLeft();
        }
        return;
    }
    // Under the target, up its right-hand side and in above it.
    if (BlankX < x && BlankY == y) {
        BlankDown();
    }
    if (BlankX <= x && BlankY > y) {
        while (BlankX <= x) {
            BlankRight();
        }
    }
    if (BlankX > x && BlankY >= y) {
        while (BlankY >= y) {
            BlankUp();
        }
    }
    if (BlankX > x && BlankY < y) {
        do {
            BlankLeft();
        } while (BlankX != x);
    }
    if (BlankX < x && BlankY < y) {
        do {
            BlankRight();
        } while (BlankX != x);
    }
    if (!(BlankX == x && BlankY < y)) {
        view_.ShowNotice("Su0エラー2");
        return;
    }
    while (BlankY + 1 < y) {
        BlankDown();
    }
}

void Solver::Ss0(int x, int y) {
    if (!RouteStarts(y != 3, "Ss0エラー", {x, y}, {x, y + 1})) {
        return;
    }
    if (x == 3) {  // step aside to column 2 when above the target
        if (BlankX == 3 && BlankY < y) {
            BlankLeft();
        }
        while (BlankY <= y) {
            BlankDown();
        }
        while (BlankX < 3) {
            BlankRight();
        }
        while (BlankY - 1 > y) {
            BlankUp();
        }
        return;
    }
    if (BlankX == x && BlankY < y) {
        BlankRight();
    }
    while (BlankY <= y) {
        BlankDown();
    }
    while (BlankX < x) {
        BlankRight();
    }
    while (BlankX > x) {
        BlankLeft();
    }
    while (BlankY - 1 > y) {
        BlankUp();
    }
}

}  // namespace koma
