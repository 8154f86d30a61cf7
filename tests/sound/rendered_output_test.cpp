// What really reaches the sound card: SDL's disk driver writes the mixed output to a file
// (S16 stereo at the output's rate), in real time.
#include <gtest/gtest.h>

#include <SDL_mixer.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sound/audio_output.h"
#include "sound/sound_effect.h"
#include "sound/synth_music_device.h"
#include "sound_files.h"
#include "support/disk_audio.h"

namespace koma::sound {
namespace {

using namespace std::chrono_literals;
using testing::NotifyRecorder;
using testing::TempDir;

using koma::testing::CountLoud;
using koma::testing::ReadDiskAudio;

class RenderedOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(setenv("SDL_AUDIODRIVER", "disk", 1), 0);
        ASSERT_EQ(setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1), 0);
    }

    // Samples per second in the file (both channels).
    static std::size_t PerSecond(const AudioOutput& output) {
        return static_cast<std::size_t>(output.SampleRate()) * AudioOutput::kChannels;
    }

    TempDir dir;
    const std::string raw = dir.Path("output.raw");
    NotifyRecorder recorder;
};

TEST_F(RenderedOutputTest, MusicIsHeardOnlyOncePlayed) {
    std::size_t per_second = 0;
    {
        AudioOutput output;
        ASSERT_NO_THROW(output.Open());
        per_second = PerSecond(output);
        const auto device = MakeSynthMusicDevice(output);
        device->Open(dir.Write("koma.mid", testing::OneNoteMidi()), recorder.Handler());
        std::this_thread::sleep_for(300ms);
        device->Play();
        ASSERT_TRUE(recorder.WaitFor(1, 3s));
    }
    const auto samples = ReadDiskAudio(raw);
    ASSERT_GT(samples.size(), per_second / 2);
    EXPECT_EQ(CountLoud(samples, 0, per_second / 5), 0U) << "sound before the play";
    EXPECT_GT(CountLoud(samples, 0, samples.size()), per_second / 10) << "no music";
}

TEST_F(RenderedOutputTest, EffectIsHeardWithoutAnyMusic) {
    std::size_t per_second = 0;
    {
        AudioOutput output;
        ASSERT_NO_THROW(output.Open());
        per_second = PerSecond(output);
        SoundEffect effect(output);
        effect.Play(dir.Write("一等賞.wav", testing::ToneWav(0.3)));
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_GT(CountLoud(ReadDiskAudio(raw), 0, per_second), per_second / 10);
}

TEST_F(RenderedOutputTest, EffectMixesWithTheMusicWhichCarriesOn) {
    {
        AudioOutput output;
        ASSERT_NO_THROW(output.Open());
        const auto device = MakeSynthMusicDevice(output);
        device->Open(dir.Write("koma.mid", testing::OneNoteMidi()), recorder.Handler());
        SoundEffect effect(output);
        device->Play();
        effect.Play(dir.Write("一等賞.wav", testing::ToneWav(0.3)));
        EXPECT_EQ(Mix_Playing(-1), 1);
        ASSERT_TRUE(recorder.WaitFor(1, 3s));
        EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::kSuccessful}));
    }
    const auto samples = ReadDiskAudio(raw);
    EXPECT_GT(CountLoud(samples, 0, samples.size()), 0U);
}

// A stop and the play that resumes it leave out nothing: the note held at the stop sounds again
// from the same point, as loud as before.
TEST_F(RenderedOutputTest, AResumedPlaySoundsTheHeldNoteAgain) {
    std::size_t per_second = 0;
    {
        AudioOutput output;
        ASSERT_NO_THROW(output.Open());
        per_second = PerSecond(output);
        const auto device = MakeSynthMusicDevice(output);
        device->Open(dir.Write("koma.mid", testing::OneNoteMidi(4 * testing::kTicksPerQuarter)),
                     recorder.Handler());
        device->Play();
        std::this_thread::sleep_for(600ms);
        device->Stop();
        std::this_thread::sleep_for(800ms);  // the note's release dies away
        device->Play();
        std::this_thread::sleep_for(600ms);
    }
    // The file ends when the output closes, well after the resume.
    const auto samples = ReadDiskAudio(raw);
    const std::size_t window = per_second / 4;
    ASSERT_GT(samples.size(), 2 * per_second);
    const std::size_t before = CountLoud(samples, per_second / 4, per_second / 4 + window);
    const std::size_t after =
        CountLoud(samples, samples.size() - 2 * window, samples.size() - window);
    EXPECT_GT(before, window / 4) << "no music before the stop";
    EXPECT_GT(after, before / 2) << "the held note was not sounded again";
}

}  // namespace
}  // namespace koma::sound
