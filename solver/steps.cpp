#include <cassert>

#include "solver/solver.h"

namespace koma {

namespace {

struct Offset {
    int dx;
    int dy;
};

constexpr Offset OffsetOf(Step step) {
    switch (step) {
        case Step::kBlankLeft:
            return {-1, 0};
        case Step::kBlankRight:
            return {1, 0};
        case Step::kBlankUp:
            return {0, -1};
        case Step::kBlankDown:
            return {0, 1};
    }
    return {0, 0};
}

}  // namespace

std::string_view StepName(Step step) {
    switch (step) {
        case Step::kBlankLeft:
            return "BlankLeft";
        case Step::kBlankRight:
            return "BlankRight";
        case Step::kBlankUp:
            return "BlankUp";
        case Step::kBlankDown:
            return "BlankDown";
    }
    return "?";
}

void Solver::BlankLeft() {
    TakeStep(Step::kBlankLeft);
}
void Solver::BlankRight() {
    TakeStep(Step::kBlankRight);
}
void Solver::BlankUp() {
    TakeStep(Step::kBlankUp);
}
void Solver::BlankDown() {
    TakeStep(Step::kBlankDown);
}

void Solver::TakeStep(Step step) {
    const int bx = BlankX;
    const int by = BlankY;
    const Offset offset = OffsetOf(step);
    const int nx = bx + offset.dx;
    const int ny = by + offset.dy;
    // The callers never break this, but a step that did would read and write outside the
    // board; it refuses and leaves everything as it was.
    if (!TrackedBlankIsReal() || !IsOnBoard(nx, ny)) {
        Fault("single step off the board or from a cell that does not hold the blank");
        return;
    }
    // Pictures first, then the pause that shows them, then the board and the tracked cell.
    const int t = puzzle_.At(nx, ny);
    puzzle_.PlaceTile(t, bx, by);
    puzzle_.PlaceTile(kBlank, nx, ny);
    Taimingu(1000);
    [[maybe_unused]] const bool moved = puzzle_.SlideIntoBlank(nx, ny, bx, by);
    assert(moved);
    BlankX = nx;
    BlankY = ny;
    if (step_observer_) {
        step_observer_(step);
    }
}

bool Solver::TrackedBlankIsReal() const {
    return IsOnBoard(BlankX, BlankY) && puzzle_.At(BlankX, BlankY) == kBlank;
}

bool Solver::RouteOutOfLimits(int x, int y) const {
    if (IsOnBoard(x, y) && TrackedBlankIsReal()) {
        return false;
    }
    Fault("route with a target off the board or a tracked cell that does not hold the blank");
    return true;
}

void Solver::Fault(std::string_view what) const {
    if (fault_hook_) {
        fault_hook_(what);
        return;
    }
    assert(false && "solver used outside its limits");
}

}  // namespace koma
