// The sound switch and the music loop it drives, against a fake music device.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCoreApplication>
#include <QKeySequence>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <memory>
#include <new>
#include <utility>

#include "form_fixture.h"
#include "modal_closer.h"

namespace koma::app {
namespace {

using Log = std::vector<std::string>;
using testing::ModalCloser;

class SoundSwitch : public testing::FormTest {
  protected:
    SoundSwitch() { music.ClearLog(); }

    // Lets queued notifications reach the window, as the event loop would.
    static void RunQueued() { QCoreApplication::processEvents(); }

    void SwitchOn() { QTest::mouseClick(probe.RadioButton2(), Qt::LeftButton); }
    void SwitchOff() { QTest::mouseClick(probe.RadioButton1(), Qt::LeftButton); }
};

TEST_F(SoundSwitch, StartsSilentWithTheMusicOpen) {
    TForm1 window(Options());
    EXPECT_EQ(music.log, (Log{"open koma.mid"}));
    EXPECT_FALSE(music.playing);
    EXPECT_FALSE(window.IsSoundOn());
}

TEST_F(SoundSwitch, OnPlaysFromTheBeginningAndEveryEndPlaysAgain) {
    music.position = 300;
    SwitchOn();
    EXPECT_EQ(music.log, (Log{"seek", "play"}));
    EXPECT_EQ(music.position, 0);
    for (int pass = 0; pass < 3; ++pass) {
        music.ClearLog();
        ASSERT_TRUE(music.FinishPlay());
        RunQueued();
        // The finished piece rewinds itself before playing again.
        EXPECT_EQ(music.log, (Log{"notify successful", "seek", "play"})) << "pass " << pass;
        EXPECT_TRUE(music.playing);
    }
}

TEST_F(SoundSwitch, OffIsSilentWhicheverWayTheAbortArrives) {
    for (const bool abort_before_click_completes : {false, true}) {
        SCOPED_TRACE(abort_before_click_completes ? "abort before release" : "abort after");
        SwitchOn();
        ASSERT_TRUE(music.playing);
        music.ClearLog();

        QTest::mousePress(probe.RadioButton1(), Qt::LeftButton);
        EXPECT_FALSE(music.playing) << "the press stops the music";
        if (abort_before_click_completes) {
            RunQueued();  // the switch is still on: the music resumes where it stopped
            EXPECT_TRUE(music.playing);
        }
        QTest::mouseRelease(probe.RadioButton1(), Qt::LeftButton);
        RunQueued();
        EXPECT_FALSE(music.playing);
        EXPECT_FALSE(form.IsSoundOn());
        // A late abort finds the switch off and plays nothing.
        const Log expected = abort_before_click_completes
                                 ? Log{"stop", "notify aborted", "play", "stop", "notify aborted"}
                                 : Log{"stop", "notify aborted", "stop"};
        EXPECT_EQ(music.log, expected);

        // Switching on again restarts from the beginning, not from where it stopped.
        music.position = 400;
        music.ClearLog();
        SwitchOn();
        EXPECT_EQ(music.log, (Log{"seek", "play"}));
        SwitchOff();
        RunQueued();
        EXPECT_FALSE(music.playing);
    }
}

// The audio output is held only while something can sound: sound off asks for its release
// until nothing (the fanfare, the reverb's tail) is heard any more, then stops asking.
TEST_F(SoundSwitch, OffReleasesTheAudioOnceNothingSounds) {
    int asked = 0;
    FormOptions options = Options();
    options.release_audio = [&asked] { return ++asked >= 2; };  // still sounding at first
    TForm1 window(std::move(options));
    const testing::FormProbe window_probe{window};
    QTest::mouseClick(window_probe.RadioButton2(), Qt::LeftButton);
    QTest::mouseClick(window_probe.RadioButton1(),
                      Qt::RightButton);  // stops, but the switch stays on
    QTest::qWait(1500);
    EXPECT_EQ(asked, 0) << "released while sound is on";

    QTest::mouseClick(window_probe.RadioButton1(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(asked, 2, 5000);
    QTest::qWait(1500);
    EXPECT_EQ(asked, 2) << "still asking once released";
}

// Every entry from the event loop into the game runs guarded, the timer's too: a failure of the
// output's release after sound off ends in the error box, and the game goes on.
TEST_F(SoundSwitch, AFailedReleaseOfTheOutputIsReportedAndTheGameGoesOn) {
    FormOptions options = Options();
    options.release_audio = []() -> bool { throw sound::SoundError("出力を閉じられません"); };
    TForm1 window(std::move(options));
    const testing::FormProbe window_probe{window};
    ModalCloser closer;
    QTest::mouseClick(window_probe.RadioButton2(), Qt::LeftButton);
    QTest::mouseClick(window_probe.RadioButton1(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(closer.seen.size(), 1U, 5000);
    EXPECT_EQ(closer.seen[0].text, "出力を閉じられません.");
    music.ClearLog();
    QTest::mouseClick(window_probe.RadioButton2(), Qt::LeftButton);
    EXPECT_EQ(music.log, (Log{"seek", "play"}));
}

TEST_F(SoundSwitch, RightButtonPressOnOffResumesWhereItStopped) {
    SwitchOn();
    music.position = 250;  // somewhere in the piece
    music.ClearLog();
    QTest::mouseClick(probe.RadioButton1(), Qt::RightButton);
    RunQueued();
    EXPECT_EQ(music.log, (Log{"stop", "notify aborted", "play"}));
    EXPECT_EQ(music.position, 250);
    EXPECT_TRUE(music.playing);
    EXPECT_TRUE(form.IsSoundOn()) << "a right click does not switch";
}

// Between the solver's steps the window answers the desktop, but the piece's end and a close
// request are the game's business and wait, like input, until the solve has returned.
TEST_F(SoundSwitch, TheEndOfThePieceAndACloseDuringASolveWaitForItsEnd) {
    form.show();
    SwitchOn();
    music.ClearLog();
    int ticks = 0;
    Log during;
    bool visible_during = false;
    QTimer inside_the_solve;  // its ticks come only from the solve's steps
    QObject::connect(&inside_the_solve, &QTimer::timeout, [&] {
        if (++ticks == 1) {
            ASSERT_TRUE(music.FinishPlay());
            form.close();
        } else if (ticks == 5) {
            during = music.log;
            visible_during = form.isVisible();
        }
    });
    inside_the_solve.start(0);
    QTest::mouseClick(probe.Button1(), Qt::LeftButton);
    inside_the_solve.stop();
    ASSERT_GE(ticks, 5);
    EXPECT_EQ(during, (Log{"notify successful"})) << "the music restarted inside the solve";
    EXPECT_TRUE(visible_during) << "the window closed inside the solve";
    RunQueued();
    EXPECT_EQ(music.log, (Log{"notify successful", "seek", "play"}));
    EXPECT_FALSE(form.isVisible()) << "the close was lost";
}

TEST_F(SoundSwitch, PressingTheCheckedOnButtonSendsNothing) {
    SwitchOn();
    music.ClearLog();
    SwitchOn();
    QTest::mouseClick(probe.RadioButton2(), Qt::RightButton);
    RunQueued();
    EXPECT_TRUE(music.log.empty());
}

// Every arrow moves to the other button of the two and checks it, round from either end, and
// runs only that button's click: no press of the mouse is made up.
TEST_F(SoundSwitch, EveryArrowMovesToTheOtherButtonAndChecksIt) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    probe.RadioButton1()->setFocus();
    const Log on{"seek", "play"};
    const Log off{"stop", "notify aborted"};
    const std::pair<Qt::Key, bool> presses[] = {
        {Qt::Key_Down, true}, {Qt::Key_Up, false},   {Qt::Key_Right, true}, {Qt::Key_Left, false},
        {Qt::Key_Up, true},   {Qt::Key_Down, false}, {Qt::Key_Left, true},  {Qt::Key_Right, false}};
    for (const auto& [key, sound_on] : presses) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        music.ClearLog();
        QTest::keyClick(QApplication::focusWidget(), key);
        RunQueued();
        EXPECT_EQ(form.IsSoundOn(), sound_on);
        EXPECT_EQ(QApplication::focusWidget(),
                  sound_on ? probe.RadioButton2() : probe.RadioButton1());
        EXPECT_EQ(music.log, sound_on ? on : off);
    }
}

TEST_F(SoundSwitch, DeviceErrorsOnPlayStopAndRewindPassSilently) {
    music.fail_seek = true;
    music.fail_play = true;
    ModalCloser closer;
    SwitchOn();
    music.fail_stop = true;
    SwitchOff();
    RunQueued();
    EXPECT_TRUE(closer.seen.empty());
}

TEST_F(SoundSwitch, CompletionPlaysTheFanfareOnlyWithSoundOn) {
    probe.PlayToOneSlideShortOfTheGoal();
    {
        ModalCloser closer;
        PressCell(0, 1);
    }
    EXPECT_TRUE(effects.empty());

    QTest::mouseClick(probe.Button3(), Qt::LeftButton);
    SwitchOn();
    probe.PlayToOneSlideShortOfTheGoal();
    ModalCloser closer;
    closer.on_box = [this] { EXPECT_EQ(effects.size(), 1U) << "the fanfare starts first"; };
    PressCell(0, 1);
    EXPECT_EQ(effects, std::vector<std::string>{"一等賞.wav"});
    EXPECT_TRUE(music.playing) << "the music goes on under the fanfare";
}

// A fanfare that cannot be had, not even the memory to read its file, leaves the completion as
// it is: the notice, and no error box.
TEST_F(SoundSwitch, AFanfareWithoutMemoryStillEndsInTheNotice) {
    FormOptions options = Options();
    options.play_effect = [](const std::string&) { throw std::bad_alloc(); };
    TForm1 window(std::move(options));
    const testing::FormProbe window_probe{window};
    QTest::mouseClick(window_probe.RadioButton2(), Qt::LeftButton);
    window_probe.PlayToOneSlideShortOfTheGoal();
    ModalCloser closer;
    window_probe.PressCell({0, 1});
    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_EQ(closer.seen[0].text, "できた!!!!");
}

TEST(SoundSwitchWithoutMusic, OneErrorBoxBeforeTheWindowThenTheGamePlays) {
    sound::testing::FakeMusicBackend music;
    music.open_error = "「koma.mid」が見つかりません";
    std::vector<std::string> effects;
    FormOptions options;
    options.pause = Pause::kOff;
    options.music = sound::testing::FakeMusicFactory(music);
    options.play_effect = [&effects](const std::string& file) { effects.push_back(file); };

    ModalCloser closer;
    std::unique_ptr<TForm1> window;
    bool shown_when_box_came = true;
    closer.on_box = [&] { shown_when_box_came = window && window->isVisible(); };
    window = std::make_unique<TForm1>(std::move(options));
    const testing::FormProbe probe{*window};
    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_FALSE(shown_when_box_came);
    EXPECT_EQ(closer.seen[0].title, "KOMA");
    EXPECT_EQ(closer.seen[0].text, "「koma.mid」が見つかりません.");
    EXPECT_EQ(closer.seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(probe.Board(), StartLayout) << "the board was laid out before the open";

    // Switching on reports the missing device once and stays on.
    closer.seen.clear();
    QTest::mouseClick(probe.RadioButton2(), Qt::LeftButton);
    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_EQ(closer.seen[0].text, "MCI デバイスがありません.");
    EXPECT_TRUE(window->IsSoundOn());

    // The fanfare still plays on completion.
    probe.PlayToOneSlideShortOfTheGoal();
    closer.seen.clear();
    QTest::mouseClick(probe.Shape1(), Qt::LeftButton, {}, QPoint(50, 150));
    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_EQ(closer.seen[0].text, "できた!!!!");
    EXPECT_EQ(effects, std::vector<std::string>{"一等賞.wav"});

    // Switching off reports it from the press and again from the click, once the click is
    // complete: a box opened while the button is held would take its release.
    closer.seen.clear();
    QTest::mouseClick(probe.RadioButton1(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(closer.seen.size(), 2U);
    EXPECT_FALSE(window->IsSoundOn());
}

}  // namespace
}  // namespace koma::app
