// The four routes that bring the blank beside a tile.
#include <gtest/gtest.h>

#include <algorithm>

#include "solver_fixture.h"

namespace koma::testing {
namespace {

using enum Step;

struct Route {
    const char* name;
    void (Solver::*call)(int, int);
    int goal_dx;  // goal cell relative to the target
    int goal_dy;
    int longest;
    const char* argument_message;
};

const Route kHy0{"Hy0", &Solver::Hy0, -1, 0, 9, "Hy0エラー"};
const Route kMy0{"My0", &Solver::My0, 1, 0, 7, "My0エラー"};
const Route kSu0{"Su0", &Solver::Su0, 0, -1, 7, "Su0エラー"};
const Route kSs0{"Ss0", &Solver::Ss0, 0, 1, 6, "Ss0エラー"};
const Route kRoutes[] = {kHy0, kMy0, kSu0, kSs0};

class RouteTest : public SolverTest {
  protected:
    // The start arrangement with the blank moved to (x, y).
    void PlaceBlank(int x, int y) {
        Grid grid = StartLayout;
        std::swap(grid[0][1], grid[x][y]);
        Load(grid);
    }

    void Run(const Route& route, int x, int y) { (solver.*route.call)(x, y); }
};

TEST_F(RouteTest, WorkedRoutes) {
    struct Case {
        const Route& route;
        int x, y, blank_x, blank_y;
        std::vector<Step> expected;
    };
    const Case cases[] = {
        {kHy0,
         2,
         1,
         1,
         0,
         {kBlankRight, kBlankRight, kBlankDown, kBlankDown, kBlankLeft, kBlankLeft, kBlankUp}},
        {kHy0, 1, 1, 3, 1, {kBlankDown, kBlankLeft, kBlankLeft, kBlankLeft, kBlankUp}},
        {kHy0, 2, 3, 3, 3, {kBlankUp, kBlankLeft, kBlankLeft, kBlankDown}},
        {kHy0, 3, 1, 3, 0, {kBlankLeft, kBlankDown}},
        {kHy0, 3, 2, 0, 0, {kBlankRight, kBlankRight, kBlankDown, kBlankDown}},
        {kMy0, 1, 2, 0, 1, {kBlankDown, kBlankDown, kBlankRight, kBlankRight, kBlankUp}},
        {kMy0, 1, 3, 0, 3, {kBlankUp, kBlankRight, kBlankRight, kBlankDown}},
        {kMy0, 0, 1, 0, 0, {kBlankRight, kBlankDown}},
        {kSu0, 2, 2, 1, 2, {kBlankDown, kBlankRight, kBlankRight, kBlankUp, kBlankUp, kBlankLeft}},
        {kSu0, 3, 2, 3, 3, {kBlankLeft, kBlankUp, kBlankUp, kBlankRight}},
        {kSu0, 1, 3, 2, 3, {kBlankUp, kBlankLeft}},
        {kSu0, 1, 2, 3, 0, {kBlankLeft, kBlankLeft, kBlankDown}},
        {kSs0, 1, 1, 1, 0, {kBlankRight, kBlankDown, kBlankDown, kBlankLeft}},
        {kSs0, 3, 1, 3, 0, {kBlankLeft, kBlankDown, kBlankDown, kBlankRight}},
        {kSs0, 0, 0, 3, 3, {kBlankLeft, kBlankLeft, kBlankLeft, kBlankUp, kBlankUp}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.route.name << "(" << c.x << ", " << c.y << ") from "
                                          << c.blank_x << ", " << c.blank_y);
        PlaceBlank(c.blank_x, c.blank_y);
        Run(c.route, c.x, c.y);
        EXPECT_EQ(steps, c.expected);
        EXPECT_EQ(solver.blank().x, c.x + c.route.goal_dx);
        EXPECT_EQ(solver.blank().y, c.y + c.route.goal_dy);
    }
}

// Every target that passes the argument check, every other blank cell: the blank ends on the
// goal cell, never steps on the target, stays out of rows above and columns left of both its
// start and goal (save the two far-side detours), and takes no more than the longest route.
TEST_F(RouteTest, EveryRouteFromEveryCellReachesItsGoal) {
    for (const Route& route : kRoutes) {
        int longest = 0;
        for (int x = 0; x < kColumns; ++x) {
            for (int y = 0; y < kRows; ++y) {
                const int goal_x = x + route.goal_dx;
                const int goal_y = y + route.goal_dy;
                if (!IsOnBoard(goal_x, goal_y)) {
                    continue;
                }
                for (int bx = 0; bx < kColumns; ++bx) {
                    for (int by = 0; by < kRows; ++by) {
                        if (bx == x && by == y) {
                            continue;
                        }
                        SCOPED_TRACE(::testing::Message() << route.name << "(" << x << ", " << y
                                                          << ") from " << bx << ", " << by);
                        PlaceBlank(bx, by);
                        const Grid before = puzzle.cells();
                        // The far-side detours through row 2 / column 2.
                        const bool row_detour = route.goal_dy == 0 && y == 3 && by == 3 &&
                                                (route.goal_dx < 0 ? bx > x : bx < x);
                        const bool column_detour = route.goal_dx == 0 && x == 3 && bx == 3 &&
                                                   (route.goal_dy < 0 ? by > y : by < y);
                        const int top = std::min(by, goal_y) - (row_detour ? 1 : 0);
                        const int left = std::min(bx, goal_x) - (column_detour ? 1 : 0);
                        bool entered_target = false;
                        bool strayed = false;
                        solver.SetStepObserver([&](Step step) {
                            steps.push_back(step);
                            const Solver::Cell b = solver.blank();
                            entered_target = entered_target || (b.x == x && b.y == y);
                            strayed = strayed || b.y < top || b.x < left;
                        });

                        Run(route, x, y);

                        EXPECT_EQ(solver.blank().x, goal_x);
                        EXPECT_EQ(solver.blank().y, goal_y);
                        EXPECT_EQ(puzzle.At(goal_x, goal_y), 0);
                        EXPECT_EQ(puzzle.At(x, y), before[x][y]);
                        EXPECT_FALSE(entered_target);
                        EXPECT_FALSE(strayed);
                        EXPECT_TRUE(view.notices.empty());
                        const int taken = static_cast<int>(steps.size());
                        EXPECT_LE(taken, route.longest);
                        EXPECT_TRUE(view.PicturesMatch(puzzle.cells()));
                        longest = std::max(longest, taken);
                    }
                }
            }
        }
        EXPECT_EQ(longest, route.longest) << route.name;
    }
}

TEST_F(RouteTest, TargetWithoutAGoalCellShowsTheArgumentMessageWhereverTheBlankIs) {
    for (const Route& route : kRoutes) {
        for (int x = 0; x < kColumns; ++x) {
            for (int y = 0; y < kRows; ++y) {
                const bool goal_missing = !IsOnBoard(x + route.goal_dx, y + route.goal_dy);
                if (!goal_missing) {
                    continue;
                }
                for (int bx = 0; bx < kColumns; ++bx) {
                    for (int by = 0; by < kRows; ++by) {
                        SCOPED_TRACE(::testing::Message() << route.name << "(" << x << ", " << y
                                                          << ") from " << bx << ", " << by);
                        PlaceBlank(bx, by);
                        const Grid before = puzzle.cells();
                        Run(route, x, y);
                        EXPECT_EQ(view.notices, std::vector<std::string>{route.argument_message});
                        EXPECT_TRUE(steps.empty());
                        EXPECT_EQ(view.repaints, 0);
                        EXPECT_EQ(puzzle.cells(), before);
                        EXPECT_EQ(solver.blank().x, bx);
                        EXPECT_EQ(solver.blank().y, by);
                    }
                }
            }
        }
    }
}

TEST_F(RouteTest, BlankAlreadyOnTheGoalTakesNoStepAndDoesNotRepaint) {
    for (const Route& route : kRoutes) {
        for (int x = 0; x < kColumns; ++x) {
            for (int y = 0; y < kRows; ++y) {
                if (!IsOnBoard(x + route.goal_dx, y + route.goal_dy)) {
                    continue;
                }
                PlaceBlank(x + route.goal_dx, y + route.goal_dy);
                Run(route, x, y);
                EXPECT_TRUE(view.log.empty()) << route.name << "(" << x << ", " << y << ")";
            }
        }
    }
}

// The solver never does this, but the rules still run as written.
TEST_F(RouteTest, BlankOnTheTargetItself) {
    for (int x = 0; x < kColumns; ++x) {
        for (int y = 0; y < kRows; ++y) {
            SCOPED_TRACE(::testing::Message() << "target " << x << ", " << y);
            if (y <= 2) {
                PlaceBlank(x, y);
                solver.Ss0(x, y);
                EXPECT_EQ(steps, std::vector<Step>{kBlankDown});
            }
            if (x <= 2 && y <= 2) {
                PlaceBlank(x, y);
                solver.My0(x, y);
                EXPECT_EQ(steps, std::vector<Step>{kBlankRight});
            }
            if (x == 3 && y <= 2) {
                PlaceBlank(x, y);
                solver.Hy0(x, y);
                EXPECT_EQ(steps, std::vector<Step>{kBlankLeft});
            }
            if (x <= 2 && (y == 1 || y == 2)) {
                PlaceBlank(x, y);
                solver.Su0(x, y);
                EXPECT_TRUE(steps.empty());
                EXPECT_EQ(view.notices, std::vector<std::string>{"Su0エラー2"});
            }
        }
    }
}

// Callers never pass these; a route that ran would step off the board and never end.
TEST_F(RouteTest, RouteOutsideItsLimitsDoesNothing) {
    for (const Route& route : kRoutes) {
        SCOPED_TRACE(route.name);
        PlaceBlank(1, 1);
        // A release build refuses each and carries on; a debug build stops at the first.
        EXPECT_DEBUG_DEATH(Run(route, 1, 7), "outside its limits");
        EXPECT_DEBUG_DEATH(Run(route, 2, -1), "outside its limits");
        SlideUntracked({1, 2});  // the tracked cell now holds that tile, the blank is below
        view.ClearLog();
        EXPECT_DEBUG_DEATH(Run(route, 2, 1), "outside its limits");
        EXPECT_TRUE(view.log.empty());
        EXPECT_EQ(puzzle.At(1, 2), 0);
    }
}

}  // namespace
}  // namespace koma::testing
