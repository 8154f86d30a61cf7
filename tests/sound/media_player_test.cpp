// The music player's own rules, against a fake device.
#include "sound/game/media_player.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_music_device.h"

namespace koma::sound {
namespace {

using testing::FakeMusicBackend;
using testing::FakeMusicFactory;
using Log = std::vector<std::string>;

class MediaPlayerTest : public ::testing::Test {
  protected:
    MediaPlayerTest() {
        player.SetNotifyHandler([this](NotifyKind kind) { notified.push_back(kind); });
    }

    void OpenAndClearLog() {
        player.Open();
        backend.ClearLog();
    }

    FakeMusicBackend backend;
    MediaPlayer player{"koma.mid", FakeMusicFactory(backend)};
    std::vector<NotifyKind> notified;
};

TEST_F(MediaPlayerTest, WithoutDeviceEveryControlFailsAndTouchesNothing) {
    for (auto operation : {&MediaPlayer::Play, &MediaPlayer::Stop, &MediaPlayer::Rewind}) {
        try {
            (player.*operation)();
            ADD_FAILURE() << "no error without a device";
        } catch (const SoundError& error) {
            EXPECT_STREQ(error.what(), "MCI デバイスがありません");
        }
    }
    EXPECT_EQ(backend.devices_made, 0);
    EXPECT_TRUE(backend.log.empty());
}

TEST_F(MediaPlayerTest, FailedOpenLeavesNoDeviceAndPassesTheMessageOn) {
    backend.open_error = "音楽ファイル「koma.mid」が見つかりません";
    try {
        player.Open();
        ADD_FAILURE() << "the open should fail";
    } catch (const SoundError& error) {
        EXPECT_EQ(std::string(error.what()), backend.open_error);
    }
    EXPECT_FALSE(player.IsOpen());
    EXPECT_THROW(player.Play(), SoundError);
    EXPECT_EQ(backend.log, (Log{"open koma.mid"}));
}

TEST_F(MediaPlayerTest, OpenClosesTheOpenDeviceFirst) {
    player.Open();
    player.Open();
    EXPECT_EQ(backend.log, (Log{"open koma.mid", "close", "open koma.mid"}));
    EXPECT_EQ(backend.devices_made, 2);
    EXPECT_EQ(backend.devices_open, 1);

    // A failing reopen still closed the old device: none is left open.
    backend.open_error = "broken";
    EXPECT_THROW(player.Open(), SoundError);
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(backend.devices_open, 0);
}

TEST_F(MediaPlayerTest, PlayRewindsFirstOnlyWhenThePositionEqualsTheLength) {
    OpenAndClearLog();
    backend.length = 100;

    backend.position = 0;
    player.Play();
    EXPECT_EQ(backend.log, (Log{"play"}));

    backend.playing = false;
    backend.ClearLog();
    backend.position = 99;
    player.Play();
    EXPECT_EQ(backend.log, (Log{"play"}));
    EXPECT_EQ(backend.position, 99);

    backend.playing = false;
    backend.ClearLog();
    backend.position = 100;
    player.Play();
    EXPECT_EQ(backend.log, (Log{"seek", "play"}));
    EXPECT_EQ(backend.position, 0);
}

TEST_F(MediaPlayerTest, LoopsWhenEachNotificationPlaysAgain) {
    player.SetNotifyHandler([this](NotifyKind kind) {
        notified.push_back(kind);
        player.Play();
    });
    OpenAndClearLog();
    player.Rewind();
    player.Play();
    ASSERT_TRUE(backend.FinishPlay());
    ASSERT_TRUE(backend.FinishPlay());
    EXPECT_EQ(backend.log, (Log{"seek", "play", "notify successful", "seek", "play",
                                "notify successful", "seek", "play"}));
    EXPECT_EQ(notified, (std::vector{NotifyKind::kSuccessful, NotifyKind::kSuccessful}));
}

TEST_F(MediaPlayerTest, StopKeepsThePositionAndOnlyTheInterruptedPlayNotifies) {
    OpenAndClearLog();
    player.Play();
    backend.position = 400;
    player.Stop();
    EXPECT_EQ(backend.log, (Log{"play", "stop", "notify aborted"}));
    EXPECT_EQ(backend.position, 400);
    EXPECT_EQ(notified, (std::vector{NotifyKind::kAborted}));

    // A second stop interrupts nothing, so nothing more is sent.
    player.Stop();
    EXPECT_EQ(notified.size(), 1U);

    // Playing again carries on from where it stopped.
    backend.ClearLog();
    player.Play();
    EXPECT_EQ(backend.log, (Log{"play"}));
    EXPECT_EQ(backend.position, 400);
}

TEST_F(MediaPlayerTest, RewindMovesToTheStartAndStartsNothing) {
    OpenAndClearLog();
    backend.position = 321;
    player.Rewind();
    EXPECT_EQ(backend.position, 0);
    EXPECT_FALSE(backend.playing);
    EXPECT_EQ(backend.log, (Log{"seek"}));
}

TEST_F(MediaPlayerTest, DeviceErrorsOfPlayStopAndRewindPassSilently) {
    OpenAndClearLog();
    backend.fail_play = true;
    backend.fail_stop = true;
    backend.fail_seek = true;
    backend.position = backend.length;

    EXPECT_NO_THROW(player.Play());  // the failing rewind skips the play
    EXPECT_NO_THROW(player.Stop());
    EXPECT_NO_THROW(player.Rewind());
    EXPECT_EQ(backend.log, (Log{"seek", "stop", "seek"}));

    backend.fail_seek = false;
    backend.ClearLog();
    EXPECT_NO_THROW(player.Play());
    EXPECT_EQ(backend.log, (Log{"seek", "play"}));
    EXPECT_TRUE(notified.empty());
    EXPECT_TRUE(player.IsOpen());
}

TEST(MediaPlayerLifetimeTest, DestructionClosesAnOpenDeviceOnly) {
    FakeMusicBackend backend;
    { MediaPlayer player("koma.mid", FakeMusicFactory(backend)); }
    EXPECT_TRUE(backend.log.empty());

    {
        MediaPlayer player("koma.mid", FakeMusicFactory(backend));
        player.Open();
        player.Play();
    }
    EXPECT_EQ(backend.log, (std::vector<std::string>{"open koma.mid", "play", "close"}));
    EXPECT_EQ(backend.devices_open, 0);
    EXPECT_FALSE(backend.playing);

    backend.ClearLog();
    backend.open_error = "broken";
    {
        MediaPlayer player("koma.mid", FakeMusicFactory(backend));
        EXPECT_THROW(player.Open(), SoundError);
    }
    EXPECT_EQ(backend.log, (std::vector<std::string>{"open koma.mid"}));
}

}  // namespace
}  // namespace koma::sound
