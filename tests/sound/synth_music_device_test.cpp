// The real music device under SDL's dummy driver, which consumes audio in real time and
// discards it. The pieces are half a second long.
#include "sound/synth_music_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "sound/audio_output.h"
#include "sound/media_player.h"
#include "sound_files.h"

namespace koma::sound {
namespace {

using namespace std::chrono_literals;
using testing::NotifyRecorder;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

constexpr long kPieceTicks = testing::kTicksPerQuarter;  // 0.5 s
constexpr auto kPatience = 3s;  // far beyond a half-second piece, far below FluidSynth's own end

class SynthMusicDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
        output = std::make_unique<AudioOutput>();
        ASSERT_TRUE(output->IsOpen()) << output->Error();
        midi = dir.Write("koma.mid", testing::OneNoteMidi(kPieceTicks));
        device = MakeSynthMusicDevice(*output);
    }

    void Open() { device->Open(midi, recorder.Handler()); }

    TempDir dir;
    std::string midi;
    std::unique_ptr<AudioOutput> output;
    std::unique_ptr<MusicDevice> device;  // after the output: destroyed before it
    NotifyRecorder recorder;
};

TEST_F(SynthMusicDeviceTest, OpensAtTheStartWithTheLengthInTicks) {
    Open();
    EXPECT_EQ(device->Length(), kPieceTicks);
    EXPECT_EQ(device->Position(), 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(device->Position(), 0);  // opening plays nothing
    EXPECT_TRUE(recorder.Kinds().empty());
}

TEST_F(SynthMusicDeviceTest, PlayToTheEndSendsOneSuccessfulNotificationPromptly) {
    Open();
    const auto start = Clock::now();
    device->Play();
    ASSERT_TRUE(recorder.WaitFor(1, kPatience));
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 400ms);  // it really played
    EXPECT_LT(took, 2s);     // the player's own end would come about 3 s late
    EXPECT_EQ(device->Position(), device->Length());

    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::Successful}));
    EXPECT_EQ(device->Position(), device->Length());  // the tick runs on; the position does not
}

TEST_F(SynthMusicDeviceTest, StopSendsOneAbortedNotificationAndKeepsThePosition) {
    Open();
    device->Play();
    std::this_thread::sleep_for(250ms);
    device->Stop();
    EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::Aborted}));  // sent inside Stop()
    const long stopped_at = device->Position();
    EXPECT_GT(stopped_at, 0);
    EXPECT_LT(stopped_at, kPieceTicks);

    std::this_thread::sleep_for(200ms);
    device->Stop();
    EXPECT_EQ(device->Position(), stopped_at);
    EXPECT_EQ(recorder.Kinds().size(), 1U);

    // Playing again resumes from there and ends normally.
    device->Play();
    std::this_thread::sleep_for(30ms);
    EXPECT_GE(device->Position(), stopped_at);
    ASSERT_TRUE(recorder.WaitFor(2, kPatience));
    EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::Aborted, NotifyKind::Successful}));
}

TEST_F(SynthMusicDeviceTest, SeekToStartRewindsAndStartsNothing) {
    Open();
    device->Play();
    std::this_thread::sleep_for(200ms);
    device->Stop();
    device->SeekToStart();
    EXPECT_EQ(device->Position(), 0);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(device->Position(), 0);
    EXPECT_EQ(recorder.Kinds().size(), 1U);

    // After the end, too: the next play is a whole pass again.
    device->Play();
    ASSERT_TRUE(recorder.WaitFor(2, kPatience));
    device->SeekToStart();
    EXPECT_EQ(device->Position(), 0);
    const auto start = Clock::now();
    device->Play();
    ASSERT_TRUE(recorder.WaitFor(3, kPatience));
    EXPECT_GE(Clock::now() - start, 400ms);
}

TEST_F(SynthMusicDeviceTest, PlayWhilePlayingCarriesOnWithOneNotification) {
    Open();
    device->Play();
    std::this_thread::sleep_for(100ms);
    device->Play();
    ASSERT_TRUE(recorder.WaitFor(1, kPatience));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::Successful}));
}

TEST_F(SynthMusicDeviceTest, DestroyingWhilePlayingEndsTheMusicSilently) {
    Open();
    device->Play();
    std::this_thread::sleep_for(100ms);
    device.reset();
    std::this_thread::sleep_for(600ms);
    EXPECT_TRUE(recorder.Kinds().empty());
}

TEST_F(SynthMusicDeviceTest, ReopeningStartsAfreshWithTheNewHandler) {
    Open();
    device->Play();
    std::this_thread::sleep_for(100ms);
    NotifyRecorder second;
    device->Open(midi, second.Handler());
    EXPECT_EQ(device->Position(), 0);
    device->Play();
    ASSERT_TRUE(second.WaitFor(1, kPatience));
    EXPECT_TRUE(recorder.Kinds().empty());
}

// The music loop of the window: every notification plays again through the player, whose
// auto-rewind starts each pass from the beginning.
TEST_F(SynthMusicDeviceTest, PlayerLoopsThePieceFromTheBeginning) {
    MediaPlayer player(midi, [this] { return MakeSynthMusicDevice(*output); });
    player.SetNotifyHandler(recorder.Handler());
    player.Open();
    player.Rewind();

    for (std::size_t pass = 1; pass <= 3; ++pass) {
        const auto start = Clock::now();
        player.Play();  // as the window does, on its own thread once notified
        ASSERT_TRUE(recorder.WaitFor(pass, kPatience)) << "pass " << pass;
        EXPECT_GE(Clock::now() - start, 400ms) << "pass " << pass << " was not a whole pass";
    }
    EXPECT_EQ(recorder.Kinds(), (std::vector(3, NotifyKind::Successful)));
}

}  // namespace
}  // namespace koma::sound
