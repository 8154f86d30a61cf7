#include "board/puzzle.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/recording_view.h"

namespace koma {
namespace {

using FakeView = support::RecordingView;

// Frame coordinates of the middle of cell (x, y).
constexpr int Mid(int cell) {
    return cell * CellSize + CellSize / 2;
}

class PuzzleTest : public ::testing::Test {
  protected:
    PuzzleTest() {
        puzzle.Modosu();
        view.ClearLog();
    }

    void Click(int x, int y) { puzzle.Shape1MouseDown(Mid(x), Mid(y)); }
    void Load(const Grid& board) { puzzle = Puzzle(view, board); }

    // Ends a game by hand: from the goal, slide 7 out of its place and then back in.
    void PlayToGoal() {
        Load(GoalLayout);
        // Undo one slide so that the next click completes the scene: move 7 into the blank.
        Click(1, 1);
        ASSERT_EQ(puzzle.At(0, 1), 7);
        view.ClearLog();
        Click(0, 1);  // 7 slides back: the goal again
    }

    FakeView view;
    Puzzle puzzle{view};
};

TEST_F(PuzzleTest, GoalTestAcceptsOnlyTheGoalArrangement) {
    EXPECT_EQ(puzzle.Kanseika(), 0) << "start arrangement";
    Load(GoalLayout);
    EXPECT_EQ(puzzle.Kanseika(), 1);

    // Every exchange of two cells of the goal is not the goal.
    for (int a = 0; a < kCells; ++a) {
        for (int b = a + 1; b < kCells; ++b) {
            Grid g = GoalLayout;
            std::swap(g[a / kRows][a % kRows], g[b / kRows][b % kRows]);
            Load(g);
            EXPECT_EQ(puzzle.Kanseika(), 0) << "swap " << a << " " << b;
        }
    }
}

TEST_F(PuzzleTest, StartUpPlacesEveryPicture) {
    EXPECT_TRUE(view.PicturesMatch(StartLayout));
    EXPECT_EQ(view.pictures[12], (FakeView::Point{10, 10}));
    EXPECT_EQ(view.pictures[0], (FakeView::Point{10, 106}));
    EXPECT_EQ(puzzle.cells(), StartLayout);
}

TEST_F(PuzzleTest, PlaceTileIgnoresTileNumbersOffTheBoard) {
    const auto before = view.pictures;
    const int moves = view.picture_moves;
    puzzle.PlaceTile(16, 1, 1);
    puzzle.PlaceTile(-1, 1, 1);
    puzzle.PlaceTile(-100, 0, 0);
    EXPECT_EQ(view.pictures, before);
    EXPECT_EQ(view.picture_moves, moves);

    puzzle.PlaceTile(15, 3, 2);
    EXPECT_EQ(view.pictures[15], (FakeView::Point{298, 202}));
    EXPECT_EQ(puzzle.cells(), StartLayout) << "PlaceTile never touches the board";
}

TEST_F(PuzzleTest, RestartRestoresBoardAndPicturesAfterMoves) {
    Click(1, 1);  // 7 left
    Click(1, 0);  // 3 down
    Click(2, 0);  // 2 left
    ASSERT_NE(puzzle.cells(), StartLayout);
    view.solver_button_visible = false;
    puzzle.Button3Click();
    EXPECT_EQ(puzzle.cells(), StartLayout);
    EXPECT_TRUE(view.PicturesMatch(StartLayout));
    EXPECT_EQ(view.CellOf(0), (Cell{0, 1}));
    EXPECT_TRUE(view.solver_button_visible);
}

TEST_F(PuzzleTest, ClickSlidesANeighbourIntoTheBlank) {
    Click(1, 1);  // tile 7, right of the blank
    EXPECT_EQ(puzzle.At(0, 1), 7);
    EXPECT_EQ(puzzle.At(1, 1), 0);
    EXPECT_EQ(view.CellOf(7), (Cell{0, 1}));
    EXPECT_EQ(view.CellOf(0), (Cell{1, 1}));
    EXPECT_EQ(view.log, (std::vector<std::string>{"move 7", "move 0"}));
    EXPECT_EQ(view.repaints, 0) << "a player's slide is instantaneous";

    // Every direction: the blank is now at (1, 1).
    Click(1, 2);  // 1 up
    EXPECT_EQ(puzzle.At(1, 1), 1);
    Click(2, 2);  // 10 left
    EXPECT_EQ(puzzle.At(1, 2), 10);
    Click(2, 1);  // 6 down
    EXPECT_EQ(puzzle.At(2, 2), 6);
    Click(1, 1);  // 1 right
    EXPECT_EQ(puzzle.At(2, 1), 1);
    EXPECT_TRUE(view.PicturesMatch(puzzle.cells()));
}

TEST_F(PuzzleTest, ClickAwayFromTheBlankChangesNothing) {
    for (const auto& [x, y] : {std::pair{3, 3}, {2, 0}, {3, 1}, {2, 2}}) {
        Click(x, y);
    }
    EXPECT_EQ(puzzle.cells(), StartLayout);
    EXPECT_TRUE(view.log.empty());
}

TEST_F(PuzzleTest, ClickPositionsMapToCellsByTruncatingDivision) {
    struct Case {
        int frame;  // x or y relative to the frame
        int cell;   // the column or row it falls in; -1: off the board
    };
    const Case cases[] = {{0, 0},   {1, 0},   {96, 0},  {97, 1},  {192, 1},
                          {193, 2}, {288, 2}, {289, 3}, {384, 3}, {385, -1}};
    // With the blank at (k, 0), only a click in column k of row 1 slides a tile (up); with the
    // blank at (0, k), only a click in row k of column 1 does (left).
    for (const Case c : cases) {
        for (int k = 0; k < kColumns; ++k) {
            SCOPED_TRACE(::testing::Message() << "frame " << c.frame << ", cell " << k);
            Grid board = StartLayout;
            std::swap(board[0][1], board[k][0]);
            Load(board);
            puzzle.Shape1MouseDown(c.frame, Mid(1));
            EXPECT_EQ(puzzle.At(k, 0) != kBlank, k == c.cell) << "as a column";

            board = StartLayout;
            std::swap(board[0][1], board[0][k]);
            Load(board);
            puzzle.Shape1MouseDown(Mid(1), c.frame);
            EXPECT_EQ(puzzle.At(0, k) != kBlank, k == c.cell) << "as a row";
        }
    }
}

TEST_F(PuzzleTest, ClickOnTheBlankStopsBeforeTheGoalTest) {
    Load(GoalLayout);  // a solved board would complete on any click that tests it
    view.ClearLog();
    Click(0, 1);  // the blank
    EXPECT_TRUE(view.notices.empty());
    EXPECT_TRUE(view.solver_button_visible);

    Click(3, 3);  // a tile with no blank beside it: nothing moves but the goal test runs
    EXPECT_EQ(view.notices, std::vector<std::string>{"できた!!!!"});
}

TEST_F(PuzzleTest, CompletionPlaysEffectThenNoticeThenLocks) {
    view.sound_on = true;
    PlayToGoal();
    EXPECT_EQ(view.log, (std::vector<std::string>{"move 7", "move 0", "effect", "notice できた!!!!",
                                                  "hide solver"}));
}

TEST_F(PuzzleTest, CompletionWithSoundOffIsSilent) {
    view.sound_on = false;
    PlayToGoal();
    EXPECT_EQ(view.effects, 0);
    EXPECT_EQ(view.notices, std::vector<std::string>{"できた!!!!"});
    EXPECT_FALSE(view.solver_button_visible);
}

TEST_F(PuzzleTest, LockedBoardIgnoresClicksUntilRestart) {
    PlayToGoal();
    view.ClearLog();
    Click(1, 1);  // would slide 7 on an open board
    Click(0, 0);
    EXPECT_EQ(puzzle.cells(), GoalLayout);
    EXPECT_TRUE(view.log.empty());

    puzzle.Button3Click();
    Click(1, 1);
    EXPECT_EQ(puzzle.At(0, 1), 7) << "clicks work again after a restart";
}

TEST_F(PuzzleTest, SlideRefusesAnythingButANeighbourOfTheBlank) {
    EXPECT_FALSE(puzzle.Slide({2, 1}, {0, 1})) << "not neighbours";
    EXPECT_FALSE(puzzle.Slide({0, 0}, {1, 0})) << "no blank there";
    EXPECT_FALSE(puzzle.Slide({-1, 1}, {0, 1})) << "off the board";
    EXPECT_FALSE(puzzle.Slide({0, 1}, {0, 4})) << "off the board";
    EXPECT_EQ(puzzle.cells(), StartLayout);
    EXPECT_TRUE(view.log.empty()) << "a refused slide moves no picture";
    EXPECT_TRUE(puzzle.Slide({0, 0}, {0, 1}));
    EXPECT_EQ(puzzle.At(0, 1), 12);
    EXPECT_EQ(puzzle.At(0, 0), 0);
}

TEST(Layouts, StartAndGoalAgreeOnNineCellsWithTheBlankAtHome) {
    int same = 0;
    for (int x = 0; x < kColumns; ++x) {
        for (int y = 0; y < kRows; ++y) {
            same += StartLayout[x][y] == GoalLayout[x][y] ? 1 : 0;
        }
    }
    EXPECT_EQ(same, 9);
    EXPECT_EQ(StartLayout[0][1], 0);
    EXPECT_EQ(GoalLayout[0][1], 0);
}

}  // namespace
}  // namespace koma
