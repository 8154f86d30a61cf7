// Everything that can go wrong when opening the music, and the sound effect's bad files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <SDL_mixer.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "sound/audio_output.h"
#include "sound/media_player.h"
#include "sound/sound_effect.h"
#include "sound/synth_music_device.h"
#include "sound_files.h"

namespace koma::sound {
namespace {

using testing::Bytes;
using ::testing::HasSubstr;
using testing::TempDir;

Bytes RandomBytes(std::size_t count) {
    std::mt19937 random(7);
    Bytes bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<unsigned char>(random());
    }
    return bytes;
}

struct BadMusic {
    std::string name;
    // Prepares the folder and returns the path to open.
    std::function<std::string(const TempDir&)> make;
    std::string message;  // part of the expected message
};

void PrintTo(const BadMusic& bad, std::ostream* out) {
    *out << bad.name;
}

class BadMusicTest : public ::testing::TestWithParam<BadMusic> {
  protected:
    void SetUp() override { ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0); }
    TempDir dir;
};

TEST_P(BadMusicTest, OpenFailsWithAClearMessageAndTheDeviceStaysUsable) {
    AudioOutput output;
    ASSERT_TRUE(output.IsOpen()) << output.Error();
    const auto device = MakeSynthMusicDevice(output);
    int calls = 0;
    const std::string path = GetParam().make(dir);
    try {
        device->Open(path, [&calls](NotifyKind) { ++calls; });
        FAIL() << "opened " << path;
    } catch (const SoundError& error) {
        EXPECT_THAT(error.what(), HasSubstr(GetParam().message));
    }
    EXPECT_EQ(device->Length(), 0);
    EXPECT_EQ(device->Position(), 0);

    // The same device still opens a good file afterwards.
    device->Open(dir.Write("good.mid", testing::OneNoteMidi()), nullptr);
    EXPECT_EQ(device->Length(), testing::kTicksPerQuarter);
    EXPECT_EQ(calls, 0);
}

Bytes Truncated() {
    Bytes midi = testing::OneNoteMidi();
    midi.resize(midi.size() - 6);
    return midi;
}

INSTANTIATE_TEST_SUITE_P(
    EachCause, BadMusicTest,
    ::testing::Values(
        BadMusic{"Missing", [](const TempDir& d) { return d.Path("koma.mid"); }, "音楽ファイル「"},
        BadMusic{"Empty", [](const TempDir& d) { return d.Write("koma.mid", {}); },
                 "は MIDI ファイルではありません"},
        BadMusic{"RandomBytes",
                 [](const TempDir& d) { return d.Write("koma.mid", RandomBytes(4000)); },
                 "は MIDI ファイルではありません"},
        BadMusic{"Wav", [](const TempDir& d) { return d.Write("koma.mid", testing::ToneWav()); },
                 "は MIDI ファイルではありません"},
        BadMusic{"Truncated", [](const TempDir& d) { return d.Write("koma.mid", Truncated()); },
                 "は壊れた MIDI ファイルです"},
        BadMusic{"NoNotes",
                 [](const TempDir& d) { return d.Write("koma.mid", testing::EmptyPieceMidi()); },
                 "曲の長さが 0"},
        BadMusic{"Directory",
                 [](const TempDir& d) {
                     std::filesystem::create_directory(d.Path("koma.mid"));
                     return d.Path("koma.mid");
                 },
                 "はフォルダーで"}),
    [](const auto& test) { return test.param.name; });

TEST(MissingFileTest, MessageNamesTheFile) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
    AudioOutput output;
    MediaPlayer player("no-such-dir/koma.mid", [&output] { return MakeSynthMusicDevice(output); });
    try {
        player.Open();
        FAIL();
    } catch (const SoundError& error) {
        EXPECT_STREQ(error.what(), "音楽ファイル「no-such-dir/koma.mid」が見つかりません");
    }
    EXPECT_FALSE(player.IsOpen());
    EXPECT_THROW(player.Rewind(), SoundError);
}

class SoundfontTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
        output = std::make_unique<AudioOutput>();
        ASSERT_TRUE(output->IsOpen()) << output->Error();
    }

    std::string OpenError(const std::string& soundfont) {
        const auto device = MakeSynthMusicDevice(*output, soundfont);
        try {
            device->Open(dir.Write("koma.mid", testing::OneNoteMidi()), nullptr);
        } catch (const SoundError& error) {
            return error.what();
        }
        return "opened";
    }

    TempDir dir;
    std::unique_ptr<AudioOutput> output;  // opened once the driver is chosen
};

TEST_F(SoundfontTest, MissingSoundfontIsNamed) {
    const std::string soundfont = dir.Path("none.sf2");
    EXPECT_EQ(OpenError(soundfont), "音色ファイル「" + soundfont + "」が見つかりません");
}

TEST_F(SoundfontTest, UnreadableSoundfontIsNamedWithFluidSynthsReason) {
    const std::string soundfont = dir.Write("broken.sf2", RandomBytes(2000));
    const std::string error = OpenError(soundfont);
    EXPECT_THAT(error, HasSubstr("音色ファイル「" + soundfont + "」を読み込めません ("));
    EXPECT_THAT(error, ::testing::EndsWith(")"));
}

TEST_F(SoundfontTest, DefaultSoundfontExistsAndOpens) {
    EXPECT_TRUE(std::filesystem::is_regular_file(DefaultSoundfont())) << DefaultSoundfont();
    EXPECT_EQ(OpenError({}), "opened");
}

TEST(NoOutputTest, MusicFailsNamingTheOutputAndTheEffectIsQuiet) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "koma-no-such-driver", 1), 0);
    const TempDir dir;
    AudioOutput output;
    EXPECT_FALSE(output.IsOpen());
    EXPECT_THAT(output.Error(), HasSubstr("音声出力を開けません ("));
    EXPECT_EQ(output.SampleRate(), 0);

    const auto device = MakeSynthMusicDevice(output);
    try {
        device->Open(dir.Write("koma.mid", testing::OneNoteMidi()), nullptr);
        FAIL();
    } catch (const SoundError& error) {
        EXPECT_THAT(error.what(), HasSubstr(output.Error()));
    }

    SoundEffect effect(output);
    EXPECT_NO_THROW(effect.Play(dir.Write("一等賞.wav", testing::ToneWav())));
}

TEST(BadEffectTest, MissingOrBrokenWavPlaysNothingAndLeavesTheMusicAlone) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
    const TempDir dir;
    AudioOutput output;
    ASSERT_TRUE(output.IsOpen()) << output.Error();
    testing::NotifyRecorder recorder;
    const auto device = MakeSynthMusicDevice(output);
    device->Open(dir.Write("koma.mid", testing::OneNoteMidi()), recorder.Handler());
    device->Play();

    SoundEffect effect(output);
    EXPECT_NO_THROW(effect.Play(dir.Path("一等賞.wav")));
    EXPECT_NO_THROW(effect.Play(dir.Write("broken.wav", RandomBytes(3000))));
    EXPECT_NO_THROW(effect.Play(dir.Path("")));
    EXPECT_EQ(Mix_Playing(-1), 0);

    ASSERT_TRUE(recorder.WaitFor(1, std::chrono::seconds(3)));
    EXPECT_EQ(recorder.Kinds(), (std::vector{NotifyKind::Successful}));
}

}  // namespace
}  // namespace koma::sound
