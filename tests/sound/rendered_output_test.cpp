// What really reaches the sound card: SDL's disk driver writes the mixed output to a file
// (S16 stereo at the output's rate), in real time.
#include <gtest/gtest.h>

#include <SDL_mixer.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "sound/audio_output.h"
#include "sound/sound_effect.h"
#include "sound/synth_music_device.h"
#include "sound_files.h"

namespace koma::sound {
namespace {

using namespace std::chrono_literals;
using testing::NotifyRecorder;
using testing::TempDir;

constexpr int kLoud = 500;  // well above rounding noise, well below any real sound

// The samples of the disk driver's file.
std::vector<std::int16_t> ReadSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto low = static_cast<unsigned char>(bytes[2 * i]);
        const auto high = static_cast<unsigned char>(bytes[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(low | (high << 8));
    }
    return samples;
}

std::size_t CountLoud(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    std::size_t loud = 0;
    const std::size_t end = std::min(to, samples.size());
    for (std::size_t i = from; i < end; ++i) {
        if (samples[i] > kLoud || samples[i] < -kLoud) {
            ++loud;
        }
    }
    return loud;
}

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
        ASSERT_TRUE(output.IsOpen()) << output.Error();
        per_second = PerSecond(output);
        const auto device = MakeSynthMusicDevice(output);
        device->Open(dir.Write("koma.mid", testing::OneNoteMidi()), recorder.Handler());
        std::this_thread::sleep_for(300ms);
        device->Play();
        ASSERT_TRUE(recorder.WaitFor(1, 3s));
    }
    const auto samples = ReadSamples(raw);
    ASSERT_GT(samples.size(), per_second / 2);
    EXPECT_EQ(CountLoud(samples, 0, per_second / 5), 0U) << "sound before the play";
    EXPECT_GT(CountLoud(samples, 0, samples.size()), per_second / 10) << "no music";
}

TEST_F(RenderedOutputTest, EffectIsHeardWithoutAnyMusic) {
    std::size_t per_second = 0;
    {
        AudioOutput output;
        ASSERT_TRUE(output.IsOpen()) << output.Error();
        per_second = PerSecond(output);
        SoundEffect effect(output);
        effect.Play(dir.Write("一等賞.wav", testing::ToneWav(0.3)));
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_GT(CountLoud(ReadSamples(raw), 0, per_second), per_second / 10);
}

TEST_F(RenderedOutputTest, EffectMixesWithTheMusicWhichCarriesOn) {
    {
        AudioOutput output;
        ASSERT_TRUE(output.IsOpen()) << output.Error();
        const auto device = MakeSynthMusicDevice(output);
        device->Open(dir.Write("koma.mid", testing::OneNoteMidi()), recorder.Handler());
        SoundEffect effect(output);
        device->Play();
        effect.Play(dir.Write("一等賞.wav", testing::ToneWav(0.3)));
        EXPECT_EQ(Mix_Playing(-1), 1);
        ASSERT_TRUE(recorder.WaitFor(1, 3s));
        EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::Successful}));
    }
    const auto samples = ReadSamples(raw);
    EXPECT_GT(CountLoud(samples, 0, samples.size()), 0U);
}

}  // namespace
}  // namespace koma::sound
