// The real music device under SDL's dummy driver, which consumes audio in real time and
// discards it. The pieces are half a second long.
#include "sound/module/synth_music_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "sound/game/media_player.h"
#include "sound/module/audio_output.h"
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
        ConfigureFluidSynth();  // as the sound module does
        ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
        output = std::make_unique<AudioOutput>();
        ASSERT_NO_THROW(output->Open());
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
    EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::kSuccessful}));
    EXPECT_EQ(device->Position(), device->Length());  // the tick runs on; the position does not
}

TEST_F(SynthMusicDeviceTest, StopSendsOneAbortedNotificationAndKeepsThePosition) {
    Open();
    device->Play();
    std::this_thread::sleep_for(250ms);
    device->Stop();
    EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::kAborted}));  // sent inside Stop()
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
    EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::kAborted, NotifyKind::kSuccessful}));
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
    EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::kSuccessful}));
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

// The audio output is held only while the music can be heard: opened by the first play, closed
// once the piece and its reverb's tail have ended, opened again by the next play.
TEST_F(SynthMusicDeviceTest, TheOutputIsOpenOnlyWhileTheMusicCanBeHeard) {
    output->Close();
    Open();
    EXPECT_FALSE(output->IsOpen()) << "opening the music opened the output";
    device->Play();
    EXPECT_TRUE(output->IsOpen());
    EXPECT_FALSE(output->CloseIfSilent()) << "closed while playing";
    ASSERT_TRUE(recorder.WaitFor(1, kPatience));
    const auto deadline = Clock::now() + 5s;  // the tail lasts about two seconds
    while (!output->CloseIfSilent() && Clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(output->IsOpen()) << "still open once silent";

    device->SeekToStart();
    device->Play();
    EXPECT_TRUE(output->IsOpen());
    ASSERT_TRUE(recorder.WaitFor(2, kPatience));
    EXPECT_EQ(recorder.Kinds(), (std::vector(2, NotifyKind::kSuccessful)));
}

// The name is looked at once: a file swapped for a pipe between a check and the open must not
// block the open, since a pipe waits for a writer that never comes.
TEST_F(SynthMusicDeviceTest, AFileSwappedForAPipeNeverBlocksTheOpen) {
    const std::string pipe = dir.Path("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string name = dir.Path("swapped.mid");
    std::atomic<bool> done{false};
    std::atomic<int> opens{0};
    std::atomic<bool> stuck{false};
    std::thread swapper([&] {
        const std::string link = dir.Path("link");
        int seen = -1;
        auto since = Clock::now();
        for (bool to_pipe = false; !done; to_pipe = !to_pipe) {
            std::filesystem::create_symlink(to_pipe ? pipe : midi, link);
            std::filesystem::rename(link, name);
            if (opens != seen) {
                seen = opens;
                since = Clock::now();
            } else if (Clock::now() - since > 2s) {
                // An open waits on the pipe: a writer that closes at once lets the test end.
                const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0) {
                    stuck = true;
                    close(writer);
                }
                since = Clock::now();
            }
        }
    });
    for (const auto until = Clock::now() + 1s; Clock::now() < until; ++opens) {
        try {
            device->Open(name, nullptr);
        } catch (const SoundError&) {
            // Refused as not a MIDI file: what a pipe should get.
        }
    }
    done = true;
    swapper.join();
    EXPECT_FALSE(stuck) << "an open waited on the pipe";
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
    EXPECT_EQ(recorder.Kinds(), (std::vector(3, NotifyKind::kSuccessful)));
}

// FluidSynth crashes when an allocation fails at the wrong moment while it makes a synthesiser
// or loads a sound font. With little memory left (a small address-space limit), the first
// sound on is refused with a box instead, however little is left.
void RefusedWithRoomLeft(std::size_t kib) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
    AudioOutput output;
    output.Open();
    std::optional<TempDir> dir(std::in_place);
    const auto device = MakeSynthMusicDevice(output);
    device->Open(dir->Write("koma.mid", testing::OneNoteMidi()), nullptr);
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit limit{pages * 4096 + kib * 1024, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    // _Exit runs no destructors: the limit is lifted and the folder removed first.
    const auto leave = [&](int status) {
        limit.rlim_cur = RLIM_INFINITY;
        setrlimit(RLIMIT_AS, &limit);
        dir.reset();
        std::_Exit(status);
    };
    try {
        device->Prepare();
    } catch (const SoundError& error) {
        std::fputs(error.what(), stderr);
        leave(0);
    }
    leave(1);
}

TEST(SynthMusicDeviceWithLittleMemory, SoundOnIsRefusedNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator cannot work under an address-space limit";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a child with no threads of other tests
    for (const std::size_t kib : {256, 512, 1024, 2048, 3072, 4096, 8192, 16384}) {
        EXPECT_EXIT(RefusedWithRoomLeft(kib), ::testing::ExitedWithCode(0), "メモリが足りません")
            << kib << " KiB left";
    }
}

}  // namespace
}  // namespace koma::sound
