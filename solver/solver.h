// The automatic solver: it steers the blank around the board with animated single steps until
// the picture is whole again.
#pragma once

#include <functional>
#include <string_view>

#include "board/puzzle.h"

namespace koma {

// Whether Taimingu really waits. The window runs with the pause on; tests and tools switch it
// off so a solve costs nothing but the moves.
enum class Pause { kOn, kOff };

// A single step, named by the direction in which the blank moves.
enum class Step { kBlankLeft, kBlankRight, kBlankUp, kBlankDown };

// "BlankLeft", "BlankRight", "BlankUp" or "BlankDown".
std::string_view StepName(Step step);

class Solver {
  public:
    using Cell = koma::Cell;
    // Told about every single step once it is complete.
    using StepObserver = std::function<void(Step)>;

    static constexpr int kPhases = 13;

    // `view` is the screen the solver pauses, repaints and shows its notices on; the puzzle
    // moves the pictures through its own.
    Solver(Puzzle& puzzle, View& view, Pause pause) : puzzle_(puzzle), view_(view), pause_(pause) {}

    // The solver button: hides the button, finds the blank, runs the thirteen phases and the
    // closing. The board ends in the goal arrangement with the blank at (0, 1).
    // This, a phase, the closing and a route are each one run: a single step refused inside it
    // (see Fault) ends the whole run at once with the step's notice ("BlankLeftエラー", ...),
    // where its loops would otherwise wait for ever for a step that is never taken.
    void Button1Click();
    // The same solve piece by piece: after FindBlank, phases 1 to kPhases in order (others do
    // nothing), then the closing. The game itself only ever calls Button1Click; these are
    // public so that the tests can check each phase on its own (its step count, the board it
    // leaves, every start cell of its tile and of the blank).
    void RunPhase(int phase);
    void Closing();

    // Single steps; each slides the tile beside the blank into it, pauses and repaints. Called
    // on its own, a refused step just returns.
    void BlankLeft();
    void BlankRight();
    void BlankUp();
    void BlankDown();

    // The pause: n passes of a fixed count-down (none with the pause off), then one repaint,
    // then the view answers the desktop.
    void Taimingu(int n);

    // Bring the blank beside the tile at (x, y) - left, right, above, below - going around it.
    void Hy0(int x, int y);
    void My0(int x, int y);
    void Su0(int x, int y);
    void Ss0(int x, int y);

    // Tracks the blank where the board has it; Button1Click starts with this.
    void FindBlank();

    // The blank's cell as the solver tracks it.
    Cell blank() const { return {BlankX, BlankY}; }

    void SetStepObserver(StepObserver observer) { step_observer_ = std::move(observer); }

  private:
    struct PhaseRule;

    void RunRule(const PhaseRule& rule);
    void ClosePath();

    void TakeStep(Step step);
    bool TrackedBlankIsReal() const;
    // Whether a route runs at all: false, with a notice, when the target has no goal cell
    // (`message`); false, as a fault, when the target is off the board or the tracked blank
    // is not the blank (its loops could never end then); false when the blank is at `goal`.
    bool RouteStarts(bool has_goal, std::string_view message, Cell target, Cell goal);
    // A call outside the limits the callers keep: a debug build stops here, so that the
    // caller's mistake is found. A release build refuses the call, changing nothing, and a
    // refused step then ends the run it belongs to (RefusedStep).
    static void Fault(std::string_view what);
    // Runs `run` (the solve, a phase, the closing, a route) as one run; called inside another
    // run, it is part of that one.
    void AsOneRun(const std::function<void()>& run);
    // Thrown by a step refused inside a run; the outermost AsOneRun catches it.
    struct RefusedStep {
        Step step;
    };
    // What Hy0, My0, Su0 and Ss0 run.
    void Hy0Route(int x, int y);
    void My0Route(int x, int y);
    void Su0Route(int x, int y);
    void Ss0Route(int x, int y);
    enum class Edge { kBottomRow, kRightColumn };
    void AlongTheFarEdge(Edge edge, int along, int side);

    // A phase's tile at its tracked position, moved one cell by a route and one step.
    void MoveTile(void (Solver::*route)(int, int), void (Solver::*step)(), Cell by, Cell& tile);
    void MoveTileLeft(Cell& tile);
    void MoveTileRight(Cell& tile);
    void MoveTileUp(Cell& tile);
    void MoveTileDown(Cell& tile);

    void RowEndPhase4(int number, Cell& tile);
    void RowEndPhase8(int number, Cell& tile);
    void ColumnEndPhase10(int number, Cell& tile);
    void ColumnEndPhase12(int number, Cell& tile);
    void RowEndSequence(int r);
    void ColumnEndSequence(int c);

    Puzzle& puzzle_;
    View& view_;
    Pause pause_;
    StepObserver step_observer_;
    int BlankX = 0;
    int BlankY = 0;
    bool in_run_ = false;  // inside AsOneRun
};

}  // namespace koma
