// Single steps and the pause.
#include <gtest/gtest.h>

#include <optional>

#include "solver_fixture.h"

namespace koma::testing {
namespace {

using StepTest = SolverTest;

TEST_F(StepTest, StepFromStartArrangementMovesPicturesThenRepaintsThenUpdatesBoard) {
    // The board as the window would paint it during the pause.
    class PaintingView : public FakeView {
      public:
        void RepaintNow() override {
            FakeView::RepaintNow();
            painted = puzzle->cells();
        }
        const Puzzle* puzzle = nullptr;
        std::optional<Grid> painted;
    };
    PaintingView painting;
    Puzzle board{painting};
    painting.puzzle = &board;
    Solver stepper{board, painting, Pause::kOff};
    board.Modosu();
    painting.ClearLog();
    stepper.FindBlank();

    stepper.BlankRight();

    EXPECT_EQ(painting.log, (std::vector<std::string>{"move 7", "move 0", "repaint"}));
    EXPECT_EQ(painting.CellOf(7), (Cell{0, 1}));
    EXPECT_EQ(painting.CellOf(0), (Cell{1, 1}));
    ASSERT_TRUE(painting.painted.has_value());
    EXPECT_EQ(*painting.painted, StartLayout) << "the board changes only after the pause";
    EXPECT_EQ(board.At(0, 1), 7);
    EXPECT_EQ(board.At(1, 1), 0);
    EXPECT_EQ(stepper.blank().x, 1);
    EXPECT_EQ(stepper.blank().y, 1);
}

TEST_F(StepTest, EachStepMovesTheBlankItsWayAndReportsItself) {
    struct Case {
        void (Solver::*step)();
        Step name;
        int to_x;
        int to_y;
    };
    const Case cases[] = {{&Solver::BlankLeft, Step::kBlankLeft, 0, 1},
                          {&Solver::BlankRight, Step::kBlankRight, 2, 1},
                          {&Solver::BlankUp, Step::kBlankUp, 1, 0},
                          {&Solver::BlankDown, Step::kBlankDown, 1, 2}};
    for (const Case& c : cases) {
        Grid grid = StartLayout;
        std::swap(grid[0][1], grid[1][1]);  // blank at (1, 1)
        Load(grid);
        const int tile = puzzle.At(c.to_x, c.to_y);

        (solver.*c.step)();

        SCOPED_TRACE(std::string(StepName(c.name)));
        EXPECT_EQ(puzzle.At(1, 1), tile);
        EXPECT_EQ(puzzle.At(c.to_x, c.to_y), 0);
        EXPECT_EQ(solver.blank().x, c.to_x);
        EXPECT_EQ(solver.blank().y, c.to_y);
        EXPECT_TRUE(view.PicturesMatch(puzzle.cells()));
        EXPECT_EQ(view.repaints, 1);
        EXPECT_EQ(steps, std::vector<Step>{c.name});
    }
    EXPECT_EQ(StepName(Step::kBlankLeft), "BlankLeft");
    EXPECT_EQ(StepName(Step::kBlankRight), "BlankRight");
    EXPECT_EQ(StepName(Step::kBlankUp), "BlankUp");
    EXPECT_EQ(StepName(Step::kBlankDown), "BlankDown");
}

// A step that would leave the board, or whose tracked cell is not the blank, must not touch
// anything: no picture, no pause, no board change.
TEST_F(StepTest, BrokenStepPreconditionChangesNothing) {
    struct Case {
        int blank_x;
        int blank_y;
        void (Solver::*step)();
        bool tracked_stale;  // the player slid a tile into the tracked blank since
        const char* what;
    };
    const Case cases[] = {
        {0, 1, &Solver::BlankLeft, false, "left off the board"},
        {3, 2, &Solver::BlankRight, false, "right off the board"},
        {2, 0, &Solver::BlankUp, false, "up off the board"},
        {1, 3, &Solver::BlankDown, false, "down off the board"},
        {1, 1, &Solver::BlankLeft, true, "tracked cell holds a tile"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Grid grid = StartLayout;
        std::swap(grid[0][1], grid[c.blank_x][c.blank_y]);
        Load(grid);
        if (c.tracked_stale) {
            SlideUntracked({c.blank_x + 1, c.blank_y});
            grid = puzzle.cells();
            Forget();
        }

        // A release build refuses the step and carries on; a debug build stops at once.
        EXPECT_DEBUG_DEATH((solver.*c.step)(), "outside its limits");

        EXPECT_EQ(puzzle.cells(), grid);
        EXPECT_EQ(solver.blank().x, c.blank_x);
        EXPECT_EQ(solver.blank().y, c.blank_y);
        EXPECT_TRUE(view.log.empty());
        EXPECT_EQ(view.repaints, 0);
        EXPECT_TRUE(steps.empty());
    }
}

TEST(StepDeathTest, BrokenStepStopsADebugBuild) {
    FakeView view;
    Puzzle puzzle{view};
    Solver solver{puzzle, view, Pause::kOff};
    solver.FindBlank();
    // A release build refuses the step and carries on; a debug build stops at once.
    EXPECT_DEBUG_DEATH(solver.BlankLeft(), "outside its limits");
    EXPECT_EQ(puzzle.cells(), StartLayout);
}

// With the pause on this also runs the real count-down, to its end; how long it takes is the
// benchmark's business.
TEST(TaiminguTest, RepaintsOnceAfterTheCountingWhetherPausedOrNot) {
    for (const Pause pause : {Pause::kOn, Pause::kOff}) {
        FakeView view;
        Puzzle puzzle{view};
        Solver solver{puzzle, view, pause};
        solver.Taimingu(1);
        EXPECT_EQ(view.log, std::vector<std::string>{"repaint"});
        // Below one pass there is nothing to count; it must still end and repaint.
        solver.Taimingu(0);
        solver.Taimingu(-5);
        EXPECT_EQ(view.repaints, 3);
        EXPECT_TRUE(view.notices.empty());
    }
    FakeView view;
    Puzzle puzzle{view};
    Solver solver{puzzle, view, Pause::kOff};
    solver.Taimingu(1000);
    EXPECT_EQ(view.repaints, 1);
}

}  // namespace
}  // namespace koma::testing
