#include "app/form1.h"

#include <gtest/gtest.h>
#include <QDialog>
#include <QGroupBox>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/board_frame.h"
#include "app/dialogs.h"
#include "app/tile_image.h"
#include "form_fixture.h"
#include "modal_closer.h"

namespace koma::app {
namespace {

using testing::FormTest;
using testing::ModalCloser;

const QColor kBlack(0, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kBrown(150, 80, 66);

TEST_F(FormTest, PaintsGridMarkFrameAndBackground) {
    const QImage screen = Screen();
    ASSERT_GE(screen.width(), 476);
    ASSERT_GE(screen.height(), 466);
    const auto at = [&](int x, int y) { return QColor(screen.pixel(x, y)); };
    EXPECT_EQ(at(9, 9), kBlack);
    EXPECT_EQ(at(393, 393), kBlack) << "the corner only the frame paints";
    EXPECT_EQ(at(105, 50), kBlack);
    EXPECT_EQ(at(50, 105), kBlack);
    EXPECT_EQ(at(450, 300), kGreen);
    // The little mark on the board's top line.
    EXPECT_EQ(at(78, 2), kBlack);
    EXPECT_EQ(at(81, 3), kBlack);
    EXPECT_EQ(at(87, 4), kBlack);
    EXPECT_EQ(at(79, 2), kBrown);
    EXPECT_EQ(at(78, 5), kBrown);
    EXPECT_EQ(at(87, 8), kBrown);
    EXPECT_EQ(at(88, 5), kGreen);
    EXPECT_EQ(at(77, 5), kGreen);
    EXPECT_EQ(at(87, 9), kBlack);
    // Lines stop short of their end point: just outside the board is background.
    EXPECT_EQ(at(394, 200), kGreen);
    EXPECT_EQ(at(200, 394), kGreen);
    EXPECT_EQ(at(78, 6), kBrown) << "the mark's short lines end at y = 4";
    // The group box and its radio buttons show the window's own green inside their frame.
    for (const QPoint inside : {QPoint(30, 420), QPoint(200, 455), QPoint(340, 440),
                                QPoint(200, 440), QPoint(335, 460)}) {
        EXPECT_EQ(at(inside.x(), inside.y()), kGreen) << inside.x() << ", " << inside.y();
    }
}

TEST_F(FormTest, PicturesShowTheStartArrangement) {
    EXPECT_TRUE(PicturesShow(StartLayout));
    EXPECT_EQ(probe.Image(12)->pos(), QPoint(10, 10));
    EXPECT_EQ(probe.Image(16)->pos(), QPoint(10, 106));

    // (10, 10) shows tile 12's picture, pixel for pixel.
    const QImage tile12(QStringLiteral(":/tiles/tile12.png"));
    ASSERT_FALSE(tile12.isNull());
    const QImage screen = Screen();
    EXPECT_EQ(QColor(screen.pixel(10, 10)), QColor(tile12.pixel(0, 0)));
    EXPECT_EQ(QColor(screen.pixel(104, 104)), QColor(tile12.pixel(94, 94)));
    const QImage blank(QStringLiteral(":/tiles/tile00.png"));
    EXPECT_EQ(QColor(screen.pixel(12, 108)), QColor(blank.pixel(2, 2)));
}

TEST_F(FormTest, ControlsStandWhereTheWindowWasLaidOut) {
    EXPECT_EQ(form.windowTitle(), "KOMA");
    EXPECT_EQ(form.pos(), QPoint(318, 191));
    EXPECT_EQ(probe.Shape1()->geometry(), QRect(9, 9, 385, 385));
    EXPECT_EQ(probe.Button1()->geometry(), QRect(400, 368, 75, 25));
    EXPECT_EQ(probe.Button1()->text(), "PCにやらせる");
    EXPECT_EQ(probe.Button3()->geometry(), QRect(400, 56, 75, 33));
    EXPECT_EQ(probe.Button3()->text(), "やりなおし");
    EXPECT_TRUE(probe.Button3()->font().bold());
    EXPECT_EQ(probe.Button3()->font().pixelSize(), 13);
    EXPECT_EQ(form.font().pixelSize(), 12);
    EXPECT_EQ(probe.GroupBox1()->geometry(), QRect(16, 400, 329, 65));
    EXPECT_TRUE(probe.GroupBox1()->title().isEmpty());
    EXPECT_EQ(probe.RadioButton1()->geometry(), QRect(24, 32, 153, 17));
    EXPECT_EQ(probe.RadioButton1()->text(), "BGMや効果音は出さない");
    EXPECT_EQ(probe.RadioButton2()->geometry(), QRect(192, 32, 129, 17));
    EXPECT_EQ(probe.RadioButton2()->text(), "BGMや効果音を出す");
    EXPECT_TRUE(probe.RadioButton1()->isChecked());
    EXPECT_FALSE(probe.RadioButton2()->isChecked());
    for (int k = 1; k <= 16; ++k) {
        EXPECT_EQ(probe.Image(k)->size(), QSize(95, 95));
        EXPECT_EQ(probe.Image(k)->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(probe.Shape1()->focusPolicy(), Qt::NoFocus);

    // Tab order: Button1, Button3, then the group's radio buttons.
    EXPECT_EQ(probe.Button1()->nextInFocusChain(), probe.Button3());
    // The frame lies over every picture.
    const QWidgetList children = form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_GT(children.indexOf(probe.Shape1()), children.indexOf(probe.Image(16)));
}

TEST_F(FormTest, EveryPressOnTheBoardReachesTheFrame) {
    // On a grid line: (105, 50) is frame (96, 41), which is cell (0, 0): tile 12 slides down.
    EXPECT_EQ(form.childAt(105, 50), probe.Shape1());
    EXPECT_EQ(form.childAt(50, 50), probe.Shape1());
    PressAt(105, 50);
    EXPECT_EQ(probe.Board().value()[0][1], 12);
    EXPECT_EQ(probe.PictureCell(12), (Cell{0, 1}));
    EXPECT_EQ(probe.PictureCell(0), (Cell{0, 0}));
    // The right button slides too.
    PressAt(50, 150, Qt::RightButton);
    EXPECT_EQ(probe.Board().value()[0][0], 12);
}

TEST_F(FormTest, CompletingTheSceneShowsTheNoticeAndLocksTheBoard) {
    probe.RadioButton2()->setChecked(true);
    probe.PlayToOneSlideShortOfTheGoal();
    ModalCloser closer;
    PressCell(0, 1);  // and back: the scene is whole
    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_EQ(closer.seen[0].title, "KOMA");
    EXPECT_EQ(closer.seen[0].text, "できた!!!!");
    EXPECT_EQ(closer.seen[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(closer.seen[0].buttons, 1);
    EXPECT_EQ(effects, std::vector<std::string>{"一等賞.wav"});
    EXPECT_TRUE(probe.Button1()->isHidden());

    PressCell(1, 1);
    EXPECT_EQ(probe.Board(), GoalLayout) << "locked until restart";
    QTest::mouseClick(probe.Button3(), Qt::LeftButton);
    EXPECT_FALSE(probe.Button1()->isHidden());
    EXPECT_TRUE(PicturesShow(StartLayout));
    PressCell(1, 1);
    EXPECT_EQ(probe.Board().value()[0][1], 7);
}

TEST_F(FormTest, ComputerSolveEndsOnTheGoalAndLocksUntilRestart) {
    ModalCloser closer;
    PressCell(1, 1);
    PressCell(1, 2);
    QTest::mouseClick(probe.Button1(), Qt::LeftButton);
    EXPECT_EQ(probe.Board(), GoalLayout);
    EXPECT_TRUE(PicturesShow(GoalLayout));
    EXPECT_TRUE(probe.Button1()->isHidden());
    EXPECT_TRUE(closer.seen.empty()) << "a computer solve shows no message";
    EXPECT_TRUE(effects.empty());

    PressCell(1, 1);
    EXPECT_EQ(probe.Board(), GoalLayout);
    QTest::mouseClick(probe.Button3(), Qt::LeftButton);
    EXPECT_EQ(probe.Board(), StartLayout);
    EXPECT_FALSE(probe.Button1()->isHidden());
}

class ShownFormTest : public FormTest {
  protected:
    ShownFormTest() {
        form.show();
        form.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    }
};

TEST_F(ShownFormTest, EnterRightAfterStartUpRunsTheSolver) {
    EXPECT_EQ(QApplication::focusWidget(), probe.Button1());
    QTest::keyClick(probe.Button1(), Qt::Key_Return);
    EXPECT_TRUE(probe.Button1()->isHidden());
    EXPECT_EQ(probe.Board(), GoalLayout);
}

TEST_F(ShownFormTest, EnterPressesOnlyTheFocusedButtonAndOnlyWithoutModifiers) {
    QTest::keyClick(probe.Button1(), Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(probe.Button1(), Qt::Key_Enter, Qt::ShiftModifier);
    EXPECT_FALSE(probe.Button1()->isHidden());

    PressCell(1, 1);
    probe.Button3()->setFocus();
    QTest::keyClick(probe.Button3(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(probe.Board(), StartLayout) << "Enter on the keypad pressed restart";
    EXPECT_FALSE(probe.Button1()->isHidden()) << "only the focused button takes Enter";
}

TEST_F(ShownFormTest, KeysAfterTheSolverButtonHidesCannotPressRestart) {
    QTest::keyClick(probe.Button1(), Qt::Key_Space);
    ASSERT_TRUE(probe.Button1()->isHidden());
    EXPECT_EQ(QApplication::focusWidget(), &form);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(probe.Button1()->isHidden()) << "restart was pressed by a stray key";
}

TEST_F(ShownFormTest, ResizingMovesAndScalesNothing) {
    const QImage before = Screen().copy(0, 0, 476, 466);
    form.resize(900, 700);
    form.showMinimized();
    form.showNormal();
    form.resize(476, 466);
    EXPECT_EQ(Screen().copy(0, 0, 476, 466), before);
    EXPECT_EQ(probe.Button1()->geometry(), QRect(400, 368, 75, 25));
}

TEST(Dialogs, ErrorBoxEndsJapaneseTextWithAFullStop) {
    EXPECT_EQ(WithFullStop("MCI デバイスがありません"), "MCI デバイスがありません.");
    EXPECT_EQ(WithFullStop("Done."), "Done.");
    EXPECT_EQ(WithFullStop("Oops!"), "Oops!");
    EXPECT_EQ(WithFullStop("x"), "x.");
    EXPECT_EQ(WithFullStop("3-"), "3-") << "'-' sorts before '.'";
    EXPECT_EQ(WithFullStop(""), "");
}

TEST(Dialogs, NoticeClosesByEnterEscapeAndTheCloseBox) {
    for (const auto& close : std::vector<std::function<void(QDialog&)>>{
             [](QDialog& box) { QTest::keyClick(&box, Qt::Key_Return); },
             [](QDialog& box) { QTest::keyClick(&box, Qt::Key_Escape); },
             [](QDialog& box) { box.close(); },
         }) {
        ModalCloser closer(close);
        ShowNotice("できた!!!!");  // returns only once closed
        ASSERT_EQ(closer.seen.size(), 1U);
        EXPECT_EQ(closer.seen[0].text, "できた!!!!");
    }
}

// The notice looks like a message box: its text in the middle, with no room kept for an icon,
// in a box of fixed size whose frame offers the close box alone and leaves the title room.
TEST(Dialogs, NoticeCentresItsTextInAFixedBoxThatOnlyCloses) {
    for (const char* text : {"できた!!!!", "Hy0エラー2"}) {
        ModalCloser closer([](QDialog& box) {
            const QImage look = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QColor paper(look.pixel(2, 2));
            int left = look.width();
            int right = -1;
            for (int y = 0; y < look.height() / 2; ++y) {  // the text, above the button
                for (int x = 0; x < look.width(); ++x) {
                    if (qGray(look.pixel(x, y)) < paper.lightness() - 80) {
                        left = std::min(left, x);
                        right = std::max(right, x);
                    }
                }
            }
            ASSERT_LT(left, right) << "no text";
            EXPECT_LE(std::abs(left + right + 1 - look.width()), 3) << left << "–" << right;
            EXPECT_EQ(box.minimumSize(), box.maximumSize());
            EXPECT_GE(box.width(), 200) << "no room for the title";
            const Qt::WindowFlags flags = box.windowFlags();
            EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
            EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
            box.close();
        });
        ShowNotice(text);
        EXPECT_EQ(closer.seen.size(), 1U);
    }
}

TEST(Dialogs, ErrorBoxHasTitleIconAndFullStop) {
    ModalCloser closer;
    ShowErrorBox("MCI デバイスがありません");
    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_EQ(closer.seen[0].title, "KOMA");
    EXPECT_EQ(closer.seen[0].text, "MCI デバイスがありません.");
    EXPECT_EQ(closer.seen[0].icon, QMessageBox::Critical);
}

}  // namespace
}  // namespace koma::app
