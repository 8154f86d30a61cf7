// The start-up check measures a piece without the synthesiser; the synthesiser then plays to
// its own count. The two must agree: on the game's tune, on files cut short anywhere, on files
// with any one byte changed, and on the odd corners of the format.
#include "sound/checks/midi_length.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "sound_files.h"

namespace koma::sound {
namespace {

using testing::Bytes;

// FluidSynth's length of `file` after one rendered block, 0 when its player did not load it.
long SynthLength(const Bytes& file) {
    const auto settings = std::unique_ptr<fluid_settings_t, void (*)(fluid_settings_t*)>(
        new_fluid_settings(), delete_fluid_settings);
    fluid_settings_setint(settings.get(), "synth.polyphony", 1);
    const auto synth = std::unique_ptr<fluid_synth_t, void (*)(fluid_synth_t*)>(
        new_fluid_synth(settings.get()), delete_fluid_synth);
    const auto player = std::unique_ptr<fluid_player_t, void (*)(fluid_player_t*)>(
        new_fluid_player(synth.get()), delete_fluid_player);
    fluid_player_add_mem(player.get(), file.data(), file.size());
    fluid_player_play(player.get());
    std::array<std::int16_t, 128> block{};
    fluid_synth_write_s16(synth.get(), 64, block.data(), 0, 2, block.data(), 1, 2);
    // A file it cannot load ends the play at once.
    return fluid_player_get_status(player.get()) == FLUID_PLAYER_PLAYING
               ? fluid_player_get_total_ticks(player.get())
               : 0;
}

long ReaderLength(const Bytes& file) {
    return MidiLength({reinterpret_cast<const char*>(file.data()), file.size()});
}

// One track of `body` (delta times and events, its end included if wanted) after a header.
Bytes OneTrack(const Bytes& body, std::uint32_t claimed_size = 0) {
    const std::uint32_t size =
        claimed_size != 0 ? claimed_size : static_cast<std::uint32_t>(body.size());
    Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    for (int shift = 24; shift >= 0; shift -= 8) {
        file.push_back(static_cast<unsigned char>(size >> shift));
    }
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

class MidiLengthTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        for (int level = 0; level < LAST_LOG_LEVEL; ++level) {
            fluid_set_log_function(
                level, [](int, const char*, void*) {}, nullptr);
        }
    }

    static void ExpectSame(const Bytes& file, const std::string& what) {
        EXPECT_EQ(ReaderLength(file), SynthLength(file)) << what;
    }
};

TEST_F(MidiLengthTest, TheGamesOwnPiecesMeasureAsTheSynthesiserPlaysThem) {
    std::ifstream in(KOMA_ASSET_MIDI, std::ios::binary);
    const Bytes tune{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (const Bytes& file : {tune, testing::OneNoteMidi(), testing::BusyMidi(3)}) {
        EXPECT_GT(ReaderLength(file), 0);
        ExpectSame(file, "a whole piece");
    }
    EXPECT_EQ(ReaderLength(testing::EmptyPieceMidi()), 0);
}

TEST_F(MidiLengthTest, AFileCutShortAnywhereMeasuresAsTheSynthesiserPlaysIt) {
    const Bytes whole = testing::BusyMidi(1);
    for (std::size_t size = 14; size < whole.size(); ++size) {
        ExpectSame(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)),
                   "cut to " + std::to_string(size) + " bytes");
    }
}

TEST_F(MidiLengthTest, AnyOneByteChangedMeasuresAsTheSynthesiserPlaysIt) {
    // One track holding every kind of event the game's tune has. Its chunk header stays: a
    // chunk that is not a track can send the synthesiser's loader round in circles, and the
    // start-up check refuses it (below).
    tune::MidiTrack track;
    track.AddName("koma");
    track.AddTempo(0, 400000);
    track.AddTimeSignature(0, 4, 2);
    track.AddKeySignature(0, 1, false);
    for (int i = 0; i < 24; ++i) {
        const auto tick = static_cast<std::uint32_t>(i * 120);
        track.AddProgram(tick, i % 3, i);
        track.AddController(tick, i % 3, 7, 100);
        track.AddNote(tick, 200, i % 3, 48 + i, 90);
    }
    const Bytes whole = tune::EncodeMidiFile({track}, testing::kTicksPerQuarter, 3200);
    std::mt19937 random(19);
    for (int i = 0; i < 3000; ++i) {
        Bytes file = whole;
        std::size_t at = 8 + random() % (whole.size() - 16);
        at += at >= 14 ? 8 : 0;
        file[at] = static_cast<unsigned char>(random());
        ExpectSame(file, "byte " + std::to_string(at) + " = " + std::to_string(file[at]));
    }
}

TEST_F(MidiLengthTest, TheFormatsOddCornersMeasureAsTheSynthesiserPlaysThem) {
    const Bytes end{0x00, 0xFF, 0x2F, 0x00};
    auto with_end = [&end](Bytes body) {
        body.insert(body.end(), end.begin(), end.end());
        return body;
    };
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"system exclusive",
         OneTrack(with_end({0x00, 0x90, 60, 100, 0x60, 0xF0, 0x02, 0x7E, 0xF7}))},
        {"empty system exclusive", OneTrack(with_end({0x00, 0x90, 60, 100, 0x60, 0xF0, 0x00}))},
        {"marker's time goes to the end",
         OneTrack(with_end({0x00, 0x90, 60, 100, 0x60, 0xFF, 0x06, 0x01, 'x'}))},
        {"text's time counts",
         OneTrack(with_end({0x00, 0x90, 60, 100, 0x60, 0xFF, 0x01, 0x01, 'x'}))},
        {"no end of track", OneTrack({0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0})},
        {"events after the end",
         OneTrack({0x00, 0x90, 60, 100, 0x60, 0xFF, 0x2F, 0x00, 0x60, 0x80, 60, 0})},
        {"end of track with data", OneTrack({0x00, 0x90, 60, 100, 0x60, 0xFF, 0x2F, 0x01, 0x00})},
        {"short tempo",
         OneTrack(with_end({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1, 0x60, 0x90, 60, 100}))},
        {"short time signature",
         OneTrack(with_end({0x00, 0xFF, 0x58, 0x03, 4, 2, 24, 0x60, 0x90, 60, 100}))},
        {"running status", OneTrack(with_end({0x00, 0x90, 60, 100, 0x60, 64, 100, 0x60, 62, 0}))},
        {"running status first", OneTrack(with_end({0x00, 60, 100}))},
        {"running status past a meta event",
         OneTrack(with_end({0x00, 0x90, 60, 100, 0x10, 0xFF, 0x06, 0x01, 'x', 0x60, 62, 100}))},
        {"running status past a system exclusive",
         OneTrack(with_end({0x00, 0x90, 60, 100, 0x10, 0xF0, 0x01, 0xF7, 0x60, 62, 100}))},
        {"song position", OneTrack(with_end({0x00, 0x90, 60, 100, 0x60, 0xF2, 0, 0}))},
        {"five-byte delta", OneTrack(with_end({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 100}))},
        {"track longer than the file, ended",
         OneTrack(with_end({0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0}), 500)},
        {"track shorter than its events",
         OneTrack(with_end({0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0}), 5)},
        {"negative track length", OneTrack(with_end({0x00, 0x90, 60, 100}), 0x80000000)},
    };
    for (const auto& [what, file] : cases) {
        ExpectSame(file, what);
    }
    Bytes smpte = testing::OneNoteMidi();
    smpte[12] = 0xE7;
    ExpectSame(smpte, "SMPTE time");
    Bytes format = testing::OneNoteMidi();
    for (const int kind : {3, 0x85}) {
        format[9] = static_cast<unsigned char>(kind);
        ExpectSame(format, "format " + std::to_string(kind));
    }
    Bytes other_chunk = testing::OneNoteMidi();
    std::copy_n("XTrk", 4, other_chunk.begin() + 14);
    EXPECT_EQ(ReaderLength(other_chunk), 0) << "a chunk that is not a track";
}

}  // namespace
}  // namespace koma::sound
