// Where the real program's window stands: under window managers that tell its frame in time,
// late or never, that stall, and on scaled screens.
#include <gtest/gtest.h>
#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "scripted_wm.h"
#include "wm_client.h"
#include "x_session.h"

namespace koma::xtest {
namespace {

using Telling = ScriptedWm::Telling;

// The window's outer rectangle on a screen scaled by `scale`, in the screen's pixels; a frame
// drawn in those is off by up to `slack` pixels at a scale whose pixels do not divide evenly.
QRect Designed(qreal scale) {
    return {qRound(318 * scale), qRound(191 * scale), qRound(499 * scale), qRound(509 * scale)};
}

bool Near(const QRect& seen, const QRect& designed, int slack) {
    return std::abs(seen.left() - designed.left()) <= slack &&
           std::abs(seen.top() - designed.top()) <= slack &&
           std::abs(seen.right() - designed.right()) <= slack &&
           std::abs(seen.bottom() - designed.bottom()) <= slack;
}

std::string Text(const QRect& rect) {
    return QStringLiteral("%1,%2 %3x%4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height())
        .toStdString();
}

struct Desktop {
    const char* name;
    ScriptedWm::Script script;
    bool told_in_time;   // the frame is known before the window shows
    const char* scaled;  // the game's scaling, NAME=value; empty for none
    qreal scale;
    bool player_moves;  // the player moves the window once it stands in place
};

void PrintTo(const Desktop& desktop, std::ostream* out) {
    *out << desktop.name;
}

class ScriptedDesktop : public ::testing::TestWithParam<Desktop> {};

// Every window manager's behaviour ends with the window at its place, and from the first frame
// where the frame was told in time; the window shows its own colour from the moment it maps; a
// window the player has moved stays where the player put it.
TEST_P(ScriptedDesktop, TheWindowEndsInPlaceShowingItsColourAndTheMovedOneStaysMoved) {
    const Desktop& desktop = GetParam();
    XServer x(desktop.scale > 1 ? QSize(1600, 1200) : QSize(1024, 768));
    ASSERT_TRUE(x.ok()) << "Xvfb did not start";
    ScriptedWm wm(x.display(), desktop.script);
    ASSERT_TRUE(wm.ok()) << "the scripted window manager did not take over";
    Game game(
        x, {}, true,
        *desktop.scaled != '\0' ? QStringList{QString::fromLatin1(desktop.scaled)} : QStringList{});
    const QRect designed = Designed(desktop.scale);
    const int slack = desktop.scale == std::floor(desktop.scale) ? 0 : 1;
    QElapsedTimer clock;
    clock.start();
    std::vector<WmClient::Placement> seen;
    while (clock.elapsed() < 30000 &&
           (seen.empty() || !Near(seen.back().Outer(), designed, slack))) {
        QThread::msleep(20);
        seen = wm.Placements();
    }
    ASSERT_FALSE(seen.empty()) << "the window never showed";
    EXPECT_TRUE(Near(seen.back().Outer(), designed, slack))
        << "it stayed at " << Text(seen.back().Outer()) << ", not " << Text(designed);
    if (desktop.told_in_time) {
        EXPECT_TRUE(Near(seen.front().Outer(), designed, slack))
            << "the first frame was " << Text(seen.front().Outer());
    }
    EXPECT_EQ(wm.ColourAtMapping(), QColor(0, 128, 0)) << "the first frame is not the window's";
    if (!desktop.player_moves) {
        return;
    }
    wm.MoveAsThePlayer({40, 30});
    QThread::msleep(4000);  // past the window's last re-check
    EXPECT_EQ(wm.RequestsSinceThePlayer(), 0) << "the window was moved back";
    EXPECT_EQ(wm.Placements().back().Outer(), seen.back().Outer().translated(40, 30));
}

INSTANTIATE_TEST_SUITE_P(
    Behaviours, ScriptedDesktop,
    ::testing::Values(
        Desktop{"tells_at_once", {Telling::kAtOnce, false}, true, "", 1, true},
        Desktop{"tells_late", {Telling::kLate, false}, false, "", 1, false},
        Desktop{"never_tells", {Telling::kNever, false}, false, "", 1, false},
        Desktop{"does_not_offer", {Telling::kNotOffered, false}, false, "", 1, false},
        Desktop{"stalls", {Telling::kAtOnce, true}, false, "", 1, true},
        Desktop{"scale_1_5", {Telling::kAtOnce, false}, true, "QT_SCALE_FACTOR=1.5", 1.5, false},
        Desktop{"screen_scale_2_not_offered",
                {Telling::kNotOffered, false},
                false,
                "QT_SCREEN_SCALE_FACTORS=2",
                2,
                false}),
    [](const ::testing::TestParamInfo<Desktop>& row) { return std::string(row.param.name); });

// At twice the scale under a real window manager the window is twice as large, in place, and
// shows whole: its solver button in the bottom-right corner too.
TEST(ScaledRealWindowUnderAWindowManager, AtTwiceTheScaleTheWholeWindowShowsTwiceAsLarge) {
    XServer x({2048, 1536});
    ASSERT_TRUE(x.ok()) << "Xvfb did not start";
    QString why;
    ASSERT_TRUE(x.StartWindowManager(why)) << why.toStdString();
    PlacementWatch watch(x.display());
    Game game(x, {}, true, {QStringLiteral("QT_SCALE_FACTOR=2")});
    ASSERT_FALSE(watch.Follow(QStringLiteral("KOMA"), 300, 20000).empty()) << "no window";
    const QRect designed = Designed(2);
    const auto placed =
        WmClient(x.display())
            .WaitForPlacement(
                watch.window(), [&](const auto& now) { return Near(now.Outer(), designed, 3); },
                20000);
    ASSERT_TRUE(placed.has_value());
    EXPECT_TRUE(Near(placed->Outer(), designed, 3)) << "it stayed at " << Text(placed->Outer());

    // A row of the solver button's face above its caption ("PCにやらせる" at 400, 368): one
    // colour, a light one; the desktop behind a window too small would show its pattern.
    const QPoint row = placed->client.topLeft() + QPoint(2 * 425, 2 * 370);
    QElapsedTimer clock;
    clock.start();
    bool face = false;
    QColor first;
    while (!face && clock.elapsed() < 10000) {
        const QImage screen = x.Screenshot();
        first = QColor(screen.pixel(row));
        face = first.lightness() > 180 && first != QColor(0, 128, 0);
        for (int dx = 1; dx < 16 && face; ++dx) {
            face = QColor(screen.pixel(row + QPoint(dx, 0))) == first;
        }
        QThread::msleep(100);
    }
    EXPECT_TRUE(face) << "no button face at its place: " << first.name().toStdString();
}

}  // namespace
}  // namespace koma::xtest
