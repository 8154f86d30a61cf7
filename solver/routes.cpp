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

// Hy0 and My0 with a target in the bottom row, and Su0 with one in the right-hand column, go
// the same way, mirrored or turned: to the line next to the edge (row or column 2), out of
// the edge once if the blank stands there on the far side of the target, along that line past
// the target and back into the edge, then along the edge to the goal. `along` is the target's
// place along the edge, `side` the side of it the goal lies on (-1 left or above, +1 right).
void Solver::AlongTheFarEdge(Edge edge, int along, int side) {
    using StepFn = void (Solver::*)();
    const bool row = edge == Edge::kBottomRow;
    const StepFn to_edge = row ? &Solver::BlankDown : &Solver::BlankRight;
    const StepFn from_edge = row ? &Solver::BlankUp : &Solver::BlankLeft;
    const StepFn forward = row ? &Solver::BlankRight : &Solver::BlankDown;
    const StepFn backward = row ? &Solver::BlankLeft : &Solver::BlankUp;
    const StepFn to_side = side < 0 ? backward : forward;
    const StepFn from_side = side < 0 ? forward : backward;
    const auto across = [this, row] { return row ? BlankY : BlankX; };
    // Positive when the blank is on the goal's side of `at` along the edge.
    const auto past = [this, row, side](int at) { return ((row ? BlankX : BlankY) - at) * side; };

    while (across() < 2) {
        (this->*to_edge)();
    }
    if (across() == 3 && past(along) < 0) {
        (this->*from_edge)();
    }
    if (across() == 2) {
        while (past(along) <= 0) {
            (this->*to_side)();
        }
        (this->*to_edge)();
    }
    while (past(along + side) > 0) {
        (this->*from_side)();
    }
}

void Solver::Hy0(int x, int y) {
    AsOneRun([this, x, y] { Hy0Route(x, y); });
}
void Solver::My0(int x, int y) {
    AsOneRun([this, x, y] { My0Route(x, y); });
}
void Solver::Su0(int x, int y) {
    AsOneRun([this, x, y] { Su0Route(x, y); });
}
void Solver::Ss0(int x, int y) {
    AsOneRun([this, x, y] { Ss0Route(x, y); });
}

void Solver::Hy0Route(int x, int y) {
    if (!RouteStarts(x != 0, "Hy0エラー", {x, y}, {x - 1, y})) {
        return;
    }
    if (y == 3) {
        AlongTheFarEdge(Edge::kBottomRow, x, -1);
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

void Solver::My0Route(int x, int y) {
    if (!RouteStarts(x != 3, "My0エラー", {x, y}, {x + 1, y})) {
        return;
    }
    if (y == 3) {
        AlongTheFarEdge(Edge::kBottomRow, x, 1);
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

void Solver::Su0Route(int x, int y) {
    if (!RouteStarts(y != 0, "Su0エラー", {x, y}, {x, y - 1})) {
        return;
    }
    if (x == 3) {
        AlongTheFarEdge(Edge::kRightColumn, y, -1);
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

void Solver::Ss0Route(int x, int y) {
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
