// The solving sequence: whole runs and the special cases of the row and column ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "phase_boards.h"

namespace koma::testing {
namespace {

using enum Step;

const std::vector<Step> kRowEndSteps{kBlankUp,    kBlankRight, kBlankDown, kBlankLeft, kBlankUp,
                                     kBlankRight, kBlankDown,  kBlankDown, kBlankLeft, kBlankUp,
                                     kBlankUp,    kBlankRight, kBlankDown};
const std::vector<Step> kColumnEndSteps{
    kBlankLeft,  kBlankUp,   kBlankRight, kBlankDown, kBlankLeft, kBlankUp,   kBlankRight,
    kBlankRight, kBlankDown, kBlankLeft,  kBlankLeft, kBlankUp,   kBlankRight};

// A run phase by phase, as Button1Click makes it, with the steps of each phase counted and the
// board kept after each.
struct PhasedRun {
    std::vector<int> counts;  // phases 1..13, then the closing
    std::vector<Grid> boards;
};

class SolveTest : public SolverTest {
  protected:
    PhasedRun RunByPhases(const Grid& grid) {
        Load(grid);
        PhasedRun run;
        for (int phase = 1; phase <= Solver::kPhases; ++phase) {
            const std::size_t before = steps.size();
            RunPhase(phase);
            run.counts.push_back(static_cast<int>(steps.size() - before));
            run.boards.push_back(puzzle.cells());
        }
        const std::size_t before = steps.size();
        Closing();
        run.counts.push_back(static_cast<int>(steps.size() - before));
        run.boards.push_back(puzzle.cells());
        return run;
    }

    // Runs one phase from a board built for it.
    void RunPhaseFrom(int phase, Solver::Cell blank, Solver::Cell tile) {
        Load(PhaseStartBoard(phase, blank, tile, false));
        RunPhase(phase);
    }

    std::vector<Step> LastSteps(std::size_t n) const {
        return {steps.end() - static_cast<std::ptrdiff_t>(n), steps.end()};
    }

    void ExpectSolved() {
        EXPECT_EQ(puzzle.cells(), GoalLayout);
        EXPECT_EQ(solver.blank().x, 0);
        EXPECT_EQ(solver.blank().y, 1);
        EXPECT_TRUE(view.PicturesMatch(GoalLayout));
        EXPECT_TRUE(view.notices.empty());
    }
};

TEST_F(SolveTest, SolveLayoutIsTheGoalWithThePathShiftedOneCell) {
    const Solver::Cell path[] = {{0, 1}, {0, 2}, {0, 3}, {1, 3}, {2, 3}};
    Grid expected = GoalLayout;
    for (std::size_t i = 0; i + 1 < std::size(path); ++i) {
        expected[path[i].x][path[i].y] = GoalLayout[path[i + 1].x][path[i + 1].y];
    }
    expected[2][3] = kBlank;
    EXPECT_EQ(SolveLayout, expected);
}

TEST_F(SolveTest, ReachabilityFollowsParity) {
    EXPECT_TRUE(IsReachableFromStart(StartLayout));
    EXPECT_TRUE(IsReachableFromStart(GoalLayout));
    EXPECT_TRUE(IsReachableFromStart(SolveLayout));
    Grid slid = StartLayout;
    std::swap(slid[0][1], slid[0][2]);  // a slide
    EXPECT_TRUE(IsReachableFromStart(slid));
    Grid swapped = StartLayout;
    std::swap(swapped[1][1], swapped[2][1]);  // two tiles exchanged
    EXPECT_FALSE(IsReachableFromStart(swapped));
    Grid far_blank = StartLayout;
    std::swap(far_blank[0][1], far_blank[2][1]);  // one exchange, 2 cells away
    EXPECT_FALSE(IsReachableFromStart(far_blank));
    Grid odd_blank = StartLayout;
    std::swap(odd_blank[0][1], odd_blank[3][3]);  // one exchange, 5 cells away
    EXPECT_TRUE(IsReachableFromStart(odd_blank));
    Grid twice = StartLayout;
    twice[3][3] = 12;
    EXPECT_FALSE(twice.IsPermutation());
    EXPECT_FALSE(IsReachableFromStart(twice));
}

TEST_F(SolveTest, Button1ClickFromTheStartArrangement) {
    Load(StartLayout);
    const int moves_before = view.picture_moves;
    solver.Button1Click();
    EXPECT_EQ(view.log.front(), "hide solver") << "the board locks before anything moves";
    EXPECT_FALSE(view.solver_button_visible);
    EXPECT_EQ(steps.size(), 122U);
    EXPECT_EQ(view.picture_moves - moves_before, 244);
    EXPECT_EQ(view.repaints, 122);
    EXPECT_EQ(view.desktop_answers, 122) << "the desktop is answered after every step";
    EXPECT_EQ(std::count(view.log.begin(), view.log.end(), "effect"), 0);
    ExpectSolved();
}

TEST_F(SolveTest, StartArrangementPhaseByPhase) {
    const PhasedRun run = RunByPhases(StartLayout);
    EXPECT_EQ(run.counts, (std::vector<int>{0, 3, 15, 13, 6, 9, 5, 17, 13, 19, 2, 13, 1, 6}));
    EXPECT_EQ(RowsText(run.boards[3]), "12 2 1 10 7 3 9 0 4 5 6 15 8 14 13 11");
    EXPECT_EQ(RowsText(run.boards[7]), "12 2 1 10 3 7 6 15 8 9 5 0 14 13 4 11");
    EXPECT_EQ(RowsText(run.boards[11]), "12 2 1 10 3 7 6 15 8 11 0 4 5 14 13 9");
    ExpectSolved();
    // The closing passes through SolveLayout after its second step.
    EXPECT_EQ(LastSteps(4), (std::vector<Step>{kBlankLeft, kBlankLeft, kBlankUp, kBlankUp}));
}

TEST_F(SolveTest, ClosingReachesSolveLayoutAfterItsFirstSteps) {
    Load(StartLayout);
    for (int phase = 1; phase <= Solver::kPhases; ++phase) {
        RunPhase(phase);
    }
    std::vector<Grid> boards;
    solver.SetStepObserver([&](Step) { boards.push_back(puzzle.cells()); });
    Closing();
    ASSERT_EQ(boards.size(), 6U);
    EXPECT_EQ(boards[1], SolveLayout);
    EXPECT_EQ(boards[5], GoalLayout);
}

TEST_F(SolveTest, GoalArrangementIsNotANoOp) {
    const PhasedRun run = RunByPhases(GoalLayout);
    EXPECT_EQ(run.counts, (std::vector<int>{0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 1, 0, 0, 4}));
    ExpectSolved();
}

TEST_F(SolveTest, SolveLayoutTakesOnlyTheLastFourClosingSteps) {
    Load(SolveLayout);
    solver.Button1Click();
    EXPECT_EQ(steps, (std::vector<Step>{kBlankLeft, kBlankLeft, kBlankUp, kBlankUp}));
    ExpectSolved();
}

TEST_F(SolveTest, LongestSolve) {
    Load(Grid::FromRows({0, 4, 3, 9, 7, 8, 15, 13, 6, 11, 5, 2, 10, 1, 14, 12}));
    solver.Button1Click();
    EXPECT_EQ(steps.size(), 263U);
    ExpectSolved();
}

// Should the board change under a solve (the window holds clicks back until it has returned),
// its next step is refused; the solve ends there with the step's notice, where the loop around
// that step would otherwise wait for ever.
TEST_F(SolveTest, ARefusedStepEndsTheSolveWithItsNotice) {
    alarm(60);  // a refused step is not seen: were it to spin, the run fails instead of hanging
    Load(StartLayout);
    solver.SetStepObserver([this](Step step) {
        steps.push_back(step);
        if (steps.size() == 1) {
            puzzle = Puzzle(view, StartLayout);  // the tracked blank now holds a tile
        }
    });
    EXPECT_DEBUG_DEATH(solver.Button1Click(), "outside its limits");
    alarm(0);
#ifdef NDEBUG
    EXPECT_EQ(steps.size(), 1U);
    EXPECT_EQ(view.notices, std::vector<std::string>{"BlankUpエラー"});
#endif
}

TEST_F(SolveTest, ClosingLengthDependsOnTheBlank) {
    Grid blank_bottom_right = SolveLayout;  // blank at (3,3): 13 slid left
    std::swap(blank_bottom_right[2][3], blank_bottom_right[3][3]);
    Grid blank_right = blank_bottom_right;  // blank at (3,2): 9 slid down
    std::swap(blank_right[3][2], blank_right[3][3]);
    const std::pair<const Grid*, std::size_t> cases[] = {
        {&SolveLayout, 4}, {&blank_bottom_right, 5}, {&blank_right, 6}};
    for (const auto& [grid, count] : cases) {
        Load(*grid);
        Closing();
        EXPECT_EQ(steps.size(), count);
        ExpectSolved();
    }
}

// A row-end tile just below its home with the blank there steps up; a column-end tile just
// right of its home with the blank there slides left. Nothing else happens in the phase.
TEST_F(SolveTest, EndTileBesideItsHomeWithTheBlankThereStepsStraightIn) {
    struct Case {
        int phase;
        Solver::Cell blank;
        Solver::Cell tile;
        Step step;
    };
    for (const Case& c :
         {Case{4, {3, 0}, {3, 1}, kBlankDown}, Case{8, {3, 1}, {3, 2}, kBlankDown},
          Case{10, {0, 2}, {1, 2}, kBlankRight}, Case{12, {1, 2}, {2, 2}, kBlankRight}}) {
        SCOPED_TRACE(c.phase);
        RunPhaseFrom(c.phase, c.blank, c.tile);
        EXPECT_EQ(steps, std::vector<Step>{c.step});
        EXPECT_TRUE(PhasesHome(puzzle.cells(), c.phase));
    }
}

TEST_F(SolveTest, RowEndTileInTheBottomRowClimbsOnceThenTurnsIn) {
    RunPhaseFrom(4, {0, 3}, {3, 3});
    ASSERT_GE(steps.size(), 13U);
    EXPECT_EQ(LastSteps(13), kRowEndSteps);
    EXPECT_TRUE(PhasesHome(puzzle.cells(), 4));
    EXPECT_EQ(solver.blank().x, 3);
    EXPECT_EQ(solver.blank().y, 1);
    // One MoveTileUp (Su0(3, 3) from (0, 3), BlankDown), then Hy0(3, 2) and BlankUp.
    const std::vector<Step> approach(steps.begin(), steps.end() - 13);
    EXPECT_EQ(approach, (std::vector<Step>{kBlankRight, kBlankRight, kBlankUp, kBlankRight,
                                           kBlankDown, kBlankLeft, kBlankUp, kBlankUp}));
}

TEST_F(SolveTest, Phase8WalksTheBlankFromAboveTheTile) {
    RunPhaseFrom(8, {3, 1}, {3, 3});
    std::vector<Step> expected{kBlankDown, kBlankLeft};
    expected.insert(expected.end(), kRowEndSteps.begin(), kRowEndSteps.end());
    EXPECT_EQ(steps, expected);
    EXPECT_TRUE(PhasesHome(puzzle.cells(), 8));
}

TEST_F(SolveTest, ColumnEndWithAnotherTileBesideTheBlankGoesOn) {
    for (const int phase : {10, 12}) {
        SCOPED_TRACE(phase);
        const int c = phase == 10 ? 0 : 1;
        RunPhaseFrom(phase, {c, 2}, {3, 3});
        ASSERT_GT(steps.size(), 14U);
        EXPECT_EQ(steps.front(), kBlankRight);
        EXPECT_NE(puzzle.At(c, 2), 0);
        EXPECT_EQ(LastSteps(13), kColumnEndSteps);
        EXPECT_TRUE(PhasesHome(puzzle.cells(), phase));
        EXPECT_EQ(solver.blank().x, c + 1);
        EXPECT_EQ(solver.blank().y, 2);
    }
}

// The order of a phase's loops decides the tile's path.
TEST_F(SolveTest, TileOneClimbsColumnThreeAndTileSixGoesSidewaysFirst) {
    struct Case {
        int phase;
        Solver::Cell blank;
        Solver::Cell tile;
        std::vector<std::pair<int, int>> path;
    };
    const Case cases[] = {
        {3, {0, 3}, {3, 2}, {{3, 2}, {3, 1}, {3, 0}, {2, 0}}},
        {7, {3, 3}, {0, 3}, {{0, 3}, {1, 3}, {2, 3}, {2, 2}, {2, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phase);
        Load(PhaseStartBoard(c.phase, c.blank, c.tile, false));
        std::vector<std::pair<int, int>> path{{c.tile.x, c.tile.y}};
        solver.SetStepObserver([&](Step) {
            const Solver::Cell at = puzzle.Find(PhaseTile(c.phase));
            if (path.back() != std::pair{at.x, at.y}) {
                path.emplace_back(at.x, at.y);
            }
        });
        RunPhase(c.phase);
        EXPECT_EQ(path, c.path);
    }
}

TEST_F(SolveTest, TileAlreadyHomeMakesNoMove) {
    for (int phase = 1; phase <= Solver::kPhases; ++phase) {
        const Solver::Cell home = HomeOf(PhaseTile(phase));
        for (const Solver::Cell blank : FreeCells(phase)) {
            if (blank.x == home.x && blank.y == home.y) {
                continue;
            }
            RunPhaseFrom(phase, blank, home);
            EXPECT_TRUE(steps.empty()) << "phase " << phase;
        }
    }
}

}  // namespace
}  // namespace koma::testing
