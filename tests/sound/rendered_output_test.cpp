// What really reaches the sound card: SDL's disk driver writes the mixed output to a file
// (S16 stereo at the output's rate), in real time.
#include <gtest/gtest.h>

#include <SDL_mixer.h>
#include <QRadioButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/form1.h"
#include "app/game_sound.h"
#include "modal_closer.h"
#include "sound/module/audio_output.h"
#include "sound/module/sound_effect.h"
#include "sound/module/synth_music_device.h"
#include "sound_files.h"
#include "support/disk_audio.h"

namespace koma::sound {
namespace {

using namespace std::chrono_literals;
using testing::NotifyRecorder;
using testing::TempDir;

using koma::testing::CountLoud;
using koma::testing::PeakFrom;
using koma::testing::ReadDiskAudio;

class RenderedOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ConfigureFluidSynth();  // as the sound module does
        ASSERT_EQ(setenv("SDL_AUDIODRIVER", "disk", 1), 0);
        ASSERT_EQ(setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1), 0);
    }

    // Samples per second in the file (both channels).
    static std::size_t PerSecond(const AudioOutput& output) {
        return static_cast<std::size_t>(output.SampleRate()) * AudioOutput::kChannels;
    }

    // What the output carried while `steps` drove a device playing `midi`, until it closed.
    std::vector<std::int16_t> Rendered(const testing::Bytes& midi,
                                       const std::function<void(MusicDevice&)>& steps) {
        {
            AudioOutput output;
            output.Open();
            per_second = PerSecond(output);
            const auto device = MakeSynthMusicDevice(output);
            device->Open(dir.Write("koma.mid", midi), recorder.Handler());
            steps(*device);
        }
        return ReadDiskAudio(raw);
    }

    TempDir dir;
    const std::string raw = dir.Path("output.raw");
    NotifyRecorder recorder;
    std::size_t per_second = 0;
};

TEST_F(RenderedOutputTest, MusicIsHeardOnlyOncePlayed) {
    const auto samples = Rendered(testing::OneNoteMidi(), [this](MusicDevice& device) {
        std::this_thread::sleep_for(300ms);
        device.Play();
        ASSERT_TRUE(recorder.WaitFor(1, 3s));
    });
    ASSERT_GT(samples.size(), per_second / 2);
    EXPECT_EQ(CountLoud(samples, 0, per_second / 5), 0U) << "sound before the play";
    EXPECT_GT(CountLoud(samples, 0, samples.size()), per_second / 10) << "no music";
}

TEST_F(RenderedOutputTest, EffectIsHeardWithoutAnyMusic) {
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
    std::size_t first_loud = 0;
    const auto samples =
        Rendered(testing::OneNoteMidi(4 * testing::kTicksPerQuarter), [&](MusicDevice& device) {
            device.Play();
            // The note sounds once the sound font is loaded, which a busy machine makes late.
            for (int waited = 0; waited < 5000 && CountLoud(ReadDiskAudio(raw)) == 0;
                 waited += 20) {
                std::this_thread::sleep_for(20ms);
            }
            const auto heard = ReadDiskAudio(raw);
            first_loud = static_cast<std::size_t>(
                std::find_if(heard.begin(), heard.end(), koma::testing::IsLoud) - heard.begin());
            std::this_thread::sleep_for(400ms);
            device.Stop();
            std::this_thread::sleep_for(800ms);  // the release dies away
            device.Play();
            std::this_thread::sleep_for(900ms);
        });
    // The file ends when the output closes, well after the resume even when the driver falls
    // behind a busy machine's clock.
    const std::size_t window = per_second / 5;
    ASSERT_GT(samples.size(), first_loud + 3 * per_second / 2);
    const std::size_t before = CountLoud(samples, first_loud, first_loud + window);
    const std::size_t after =
        CountLoud(samples, samples.size() - 2 * window, samples.size() - window);
    EXPECT_GT(before, window / 4) << "no music before the stop";
    EXPECT_GT(after, before / 2) << "the held note was not sounded again";
}

// A quick left click on "BGMや効果音は出さない" in the real window with the game's own sound,
// while a note is held: the press stops the music, the press's notification resumes it before
// the click completes, and the click stops it again. From then on only the tail of the note's
// release is heard, as after a stop by keyboard.
TEST_F(RenderedOutputTest, AQuickMouseOffLeavesOnlyTheReleaseTail) {
    constexpr std::size_t kPerSecond = 44100 * AudioOutput::kChannels;  // the disk driver's
    dir.Write("koma.mid", testing::OneNoteMidi(4 * testing::kTicksPerQuarter));
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path(""));  // the window opens the music by its bare name
    {
        app::testing::ModalCloser closer;
        app::GameSound sound(KOMA_SOUND_MODULE);
        app::FormOptions options;
        sound.Wire(options);
        app::TForm1 window(std::move(options));
        window.show();
        auto* const off = window.findChild<QRadioButton*>(QStringLiteral("RadioButton1"));
        QTest::mouseClick(window.findChild<QRadioButton*>(QStringLiteral("RadioButton2")),
                          Qt::LeftButton);
        // The two-second note sounds once the sound font is loaded, which takes a while.
        for (int waited = 0; CountLoud(ReadDiskAudio(raw)) == 0 && waited < 5000; waited += 50) {
            QTest::qWait(50);
        }
        QTest::qWait(300);
        ASSERT_GT(CountLoud(ReadDiskAudio(raw)), 0U) << "no music";
        QTest::mousePress(off, Qt::LeftButton);
        QTest::qWait(20);  // a quick click: the press's notification is handled meanwhile
        QTest::mouseRelease(off, Qt::LeftButton);
        QTest::qWait(1500);  // the output closes with the window, before the tail's end
        EXPECT_TRUE(closer.seen.empty());
    }
    std::filesystem::current_path(previous);
    // The driver may fall behind the clock on a busy machine, never ahead of it: the file's last
    // half second comes well after the click, and before a held note's two seconds are up.
    const auto samples = ReadDiskAudio(raw);
    ASSERT_GT(samples.size(), kPerSecond);
    EXPECT_LT(PeakFrom(samples, samples.size() - kPerSecond / 2), 100)
        << "still sounding well after the click";
}

// A setting of channel 0 given at 0.5 s right after twice a buffer's share of other messages,
// as a careless or hostile file may send them, in a four-second piece; `notes` (on organs,
// which sound as long as a key or the pedal holds them) come before.
testing::Bytes AfterACrowd(const std::function<void(tune::MidiTrack&)>& notes,
                           const std::function<void(tune::MidiTrack&)>& setting) {
    constexpr std::uint32_t kHalf = testing::kTicksPerQuarter;
    tune::MidiTrack track;
    notes(track);
    for (int i = 0; i < 2500; ++i) {
        track.AddController(kHalf, 0, 10, 64);  // the pan at the centre, where it is
    }
    setting(track);
    track.AddController(8 * kHalf, 0, 7, 100);
    return tune::EncodeMidiFile({track}, testing::kTicksPerQuarter, 8 * kHalf);
}

double Rms(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    to = std::min(to, samples.size());
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// The left channel's pitch over [from, to) frames: the shortest lag, for 60 to 400 Hz, that
// repeats the sound nearly as well as the best one (a multiple of it would do as well).
double PitchHz(const std::vector<std::int16_t>& samples, std::size_t rate, std::size_t from,
               std::size_t to) {
    std::vector<double> score;
    for (std::size_t lag = rate / 400; lag <= rate / 60; ++lag) {
        double sum = 0.0;
        for (std::size_t frame = from; frame + lag < to; ++frame) {
            sum += static_cast<double>(samples.at(2 * frame)) * samples.at(2 * (frame + lag));
        }
        score.push_back(sum);
    }
    const double best = *std::max_element(score.begin(), score.end());
    for (std::size_t i = 1; i + 1 < score.size(); ++i) {
        if (score[i] >= 0.9 * best && score[i] >= score[i - 1] && score[i] >= score[i + 1]) {
            return static_cast<double>(rate) / static_cast<double>(rate / 400 + i);
        }
    }
    return 0.0;
}

// What a buffer has no room for is folded, not dropped: the channel keeps the setting the file
// gave it last. Held by the pedal alone from 0.25 s on, the note ends with its release at 0.5 s.
TEST_F(RenderedOutputTest, ASustainReleaseAfterACrowdEndsTheNote) {
    const auto played = [](tune::MidiTrack& track) {
        track.AddProgram(0, 0, 19);
        track.AddController(0, 0, 64, 127);
        track.AddNote(0, testing::kTicksPerQuarter / 2, 0, 60, 100);
    };
    const auto released = [](tune::MidiTrack& track) {
        track.AddController(testing::kTicksPerQuarter, 0, 64, 0);
    };
    const auto samples = Rendered(AfterACrowd(played, released), [this](MusicDevice& device) {
        device.Play();
        ASSERT_TRUE(recorder.WaitFor(1, 20s));
    });
    const std::size_t half = per_second / 2;
    std::cout << "RMS per 0.5 s from 0.5 s:";
    for (std::size_t at = 1; at < 8; ++at) {
        std::cout << ' ' << std::lround(Rms(samples, at * half, (at + 1) * half));
    }
    std::cout << '\n';
    ASSERT_GT(samples.size(), 7 * half);
    EXPECT_LT(Rms(samples, 4 * half, 7 * half), 50.0) << "the note sounds on from 2 s to 3.5 s";
}

// Bent two semitones up from the start and back to the centre at 0.5 s, the C at 1 s sounds as
// written: 130.8 Hz.
TEST_F(RenderedOutputTest, ABendResetAfterACrowdGivesTheWrittenPitch) {
    const auto bent = [](tune::MidiTrack& track) {
        track.AddProgram(0, 0, 20);
        track.AddPitchBend(0, 0, 16383);
    };
    const auto reset = [](tune::MidiTrack& track) {
        track.AddPitchBend(testing::kTicksPerQuarter, 0, 8192);
        track.AddNote(2 * testing::kTicksPerQuarter, 5 * testing::kTicksPerQuarter, 0, 48, 100);
    };
    const auto samples = Rendered(AfterACrowd(bent, reset), [this](MusicDevice& device) {
        device.Play();
        ASSERT_TRUE(recorder.WaitFor(1, 20s));
    });
    const std::size_t rate = per_second / AudioOutput::kChannels;
    ASSERT_GT(samples.size(), 7 * per_second / 2);
    const double pitch = PitchHz(samples, rate, 2 * rate, 5 * rate / 2);
    std::cout << "pitch from 2 s to 2.5 s: " << pitch << " Hz\n";
    EXPECT_NEAR(pitch, 130.8, 3.0);
}

}  // namespace
}  // namespace koma::sound
