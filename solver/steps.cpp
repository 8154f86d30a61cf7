#include <algorithm>
#include <array>
#include <cassert>
#include <optional>
#include <string>

#include "solver/pause.h"
#include "solver/solver.h"

namespace koma {

namespace {

struct StepInfo {
    Step step;
    std::string_view name;
    Cell offset;  // where the blank goes, relative to where it is
};

constexpr std::array<StepInfo, 4> kSteps{{
    {Step::kBlankLeft, "BlankLeft", offset::kLeft},
    {Step::kBlankRight, "BlankRight", offset::kRight},
    {Step::kBlankUp, "BlankUp", offset::kUp},
    {Step::kBlankDown, "BlankDown", offset::kDown},
}};

const StepInfo& InfoOf(Step step) {
    return *std::find_if(kSteps.begin(), kSteps.end(),
                         [step](const StepInfo& info) { return info.step == step; });
}

}  // namespace

std::string_view StepName(Step step) {
    return InfoOf(step).name;
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
    const Cell from = blank();
    const Cell to = from + InfoOf(step).offset;
    // The callers never break this, but a step that did would read and write outside the
    // board; it refuses and leaves everything as it was.
    if (!TrackedBlankIsReal() || !IsOnBoard(to)) {
        Fault("single step off the board or from a cell that does not hold the blank");
        if (in_run_) {
            throw RefusedStep{step};
        }
        return;
    }
    // Pictures first, then the pause that shows them, then the board and the tracked cell.
    [[maybe_unused]] const bool moved = puzzle_.Slide(to, from, [this] { Taimingu(kStepPause); });
    assert(moved);
    BlankX = to.x;
    BlankY = to.y;
    if (step_observer_) {
        step_observer_(step);
    }
}

bool Solver::TrackedBlankIsReal() const {
    return IsOnBoard(BlankX, BlankY) && puzzle_.At(BlankX, BlankY) == kBlank;
}

void Solver::Fault(std::string_view what) {
    static_cast<void>(what);  // says which limit, for whoever reads the call
    assert(false && "solver used outside its limits");
}

void Solver::AsOneRun(const std::function<void()>& run) {
    if (in_run_) {
        run();  // inside another run, which a refused step ends
        return;
    }
    in_run_ = true;
    std::optional<Step> refused;
    try {
        run();
    } catch (const RefusedStep& step) {
        refused = step.step;
    } catch (...) {
        in_run_ = false;  // a failure of the view's, for its caller
        throw;
    }
    in_run_ = false;
    // Once the run has ended: nothing of it goes on behind the box.
    if (refused) {
        view_.ShowNotice(std::string(StepName(*refused)) + "エラー");
    }
}

}  // namespace koma
