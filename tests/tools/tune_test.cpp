// The background music: the generator writes a well-formed MIDI file of the right shape, and
// the file committed in assets/ is exactly what it writes today.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/asset_bytes.h"
#include "tools/tune/tune.h"

namespace {

using koma::tools::Bytes;
using koma::tools::Reader;
using koma::tools::ReadFile;

struct MidiEvent {
    std::uint32_t tick = 0;
    std::uint8_t status = 0;
    std::uint8_t meta_type = 0;  // for status 0xFF
    Bytes data;
};

struct MidiFile {
    int format = 0;
    int division = 0;
    std::vector<std::vector<MidiEvent>> tracks;
};

// Reads an SMF strictly: no running status, every track closed by End of Track exactly at
// the end of its chunk, nothing after the last chunk.
MidiFile ParseMidi(const Bytes& bytes) {
    Reader file(bytes, 0, bytes.size());
    if (file.Tag() != "MThd" || file.BigEndian(4) != 6) {
        throw std::runtime_error("no MThd header of length 6");
    }
    MidiFile midi;
    midi.format = static_cast<int>(file.BigEndian(2));
    const std::uint32_t track_count = file.BigEndian(2);
    midi.division = static_cast<int>(file.BigEndian(2));
    if (midi.division == 0 || midi.division >= 0x8000) {
        throw std::runtime_error("division is not ticks per quarter note");
    }
    for (std::uint32_t t = 0; t < track_count; ++t) {
        if (file.Tag() != "MTrk") {
            throw std::runtime_error("missing MTrk chunk");
        }
        const std::uint32_t length = file.BigEndian(4);
        const std::size_t begin = file.Position();
        file.Skip(length);
        Reader track(bytes, begin, begin + length);
        std::vector<MidiEvent> events;
        std::uint32_t tick = 0;
        bool ended = false;
        while (!track.AtEnd()) {
            if (ended) {
                throw std::runtime_error("events after End of Track");
            }
            MidiEvent event;
            tick += track.VariableLength();
            event.tick = tick;
            if ((track.PeekByte() & 0x80U) == 0) {
                throw std::runtime_error("running status (data byte where a status belongs)");
            }
            event.status = track.Byte();
            if (event.status == 0xFF) {
                event.meta_type = track.Byte();
                const std::uint32_t size = track.VariableLength();
                for (std::uint32_t i = 0; i < size; ++i) {
                    event.data.push_back(track.Byte());
                }
                ended = event.meta_type == 0x2F;
                if (ended && size != 0) {
                    throw std::runtime_error("End of Track with data");
                }
            } else if (event.status == 0xF0 || event.status == 0xF7) {
                track.Skip(track.VariableLength());
            } else if (event.status >= 0xF0) {
                throw std::runtime_error("system message inside a file");
            } else {
                const int kind = event.status & 0xF0;
                const int size = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
                for (int i = 0; i < size; ++i) {
                    const std::uint8_t byte = track.Byte();
                    if ((byte & 0x80U) != 0) {
                        throw std::runtime_error("data byte with the high bit set");
                    }
                    event.data.push_back(byte);
                }
            }
            events.push_back(std::move(event));
        }
        if (!ended) {
            throw std::runtime_error("track without End of Track");
        }
        midi.tracks.push_back(std::move(events));
    }
    if (!file.AtEnd()) {
        throw std::runtime_error("bytes after the last track");
    }
    return midi;
}

bool IsNoteOn(const MidiEvent& e) {
    return (e.status & 0xF0) == 0x90 && e.data.at(1) > 0;
}
bool IsNoteOff(const MidiEvent& e) {
    return (e.status & 0xF0) == 0x80 || ((e.status & 0xF0) == 0x90 && e.data.at(1) == 0);
}

std::uint32_t EndTick(const std::vector<MidiEvent>& track) {
    return track.back().tick;
}

// Seconds from the start to `end_tick`, following the tempo changes of the first track.
double Seconds(const MidiFile& midi, std::uint32_t end_tick) {
    double seconds_per_tick = 0.5 / midi.division;  // the SMF default, 120 beats a minute
    std::uint32_t tick = 0;
    double seconds = 0.0;
    for (const MidiEvent& e : midi.tracks.front()) {
        if (e.status == 0xFF && e.meta_type == 0x51 && e.tick < end_tick) {
            seconds += (e.tick - tick) * seconds_per_tick;
            tick = e.tick;
            const std::uint32_t tempo = (std::uint32_t{e.data.at(0)} << 16) |
                                        (std::uint32_t{e.data.at(1)} << 8) | e.data.at(2);
            seconds_per_tick = tempo / 1e6 / midi.division;
        }
    }
    return seconds + (end_tick - tick) * seconds_per_tick;
}

TEST(KomaMidi, IsAWellFormedFormatOneFile) {
    const MidiFile midi = ParseMidi(koma::tune::ComposeKomaMidi());
    EXPECT_EQ(midi.format, 1);
    ASSERT_GE(midi.tracks.size(), 5U) << "conductor, melody, bass, chords and drums";

    // The conductor track carries the tempo and no notes.
    const auto& conductor = midi.tracks.front();
    EXPECT_TRUE(std::ranges::any_of(
        conductor, [](const MidiEvent& e) { return e.status == 0xFF && e.meta_type == 0x51; }));
    EXPECT_TRUE(
        std::ranges::all_of(conductor, [](const MidiEvent& e) { return e.status >= 0xF0; }));

    // Every note ends, on its own channel, and none is left sounding at End of Track.
    for (std::size_t t = 0; t < midi.tracks.size(); ++t) {
        std::map<std::pair<int, int>, int> sounding;
        for (const MidiEvent& e : midi.tracks[t]) {
            const std::pair<int, int> key{e.status & 0x0F, e.data.empty() ? 0 : e.data[0]};
            if (IsNoteOn(e)) {
                ++sounding[key];
            } else if (IsNoteOff(e)) {
                ASSERT_GT(sounding[key], 0) << "note-off without note-on in track " << t;
                --sounding[key];
            }
        }
        EXPECT_TRUE(std::ranges::all_of(sounding, [](const auto& kv) { return kv.second == 0; }))
            << "stuck note in track " << t;
    }
}

TEST(KomaMidi, PlaysTheBandOnGeneralMidiChannels) {
    const MidiFile midi = ParseMidi(koma::tune::ComposeKomaMidi());
    std::map<int, int> programs;   // channel -> program
    std::map<int, int> drum_hits;  // key -> count on channel 10
    for (const auto& track : midi.tracks) {
        for (const MidiEvent& e : track) {
            if ((e.status & 0xF0) == 0xC0) {
                programs[e.status & 0x0F] = e.data[0];
            } else if (IsNoteOn(e) && (e.status & 0x0F) == 9) {
                ++drum_hits[e.data[0]];
            }
        }
    }
    EXPECT_GE(programs.size(), 3U) << "melody, bass and chords each get an instrument";
    EXPECT_FALSE(programs.contains(9)) << "channel 10 keeps the standard drum kit";
    for (const int key : {36, 38, 42}) {  // kick, snare, closed hi-hat
        EXPECT_GT(drum_hits[key], 0) << "drum key " << key;
    }
}

TEST(KomaMidi, LastsLongEnoughAndLoopsWithoutGaps) {
    const MidiFile midi = ParseMidi(koma::tune::ComposeKomaMidi());
    const std::uint32_t end = EndTick(midi.tracks.front());
    std::uint32_t first_note = UINT32_MAX;
    std::uint32_t last_note_off = 0;
    for (const auto& track : midi.tracks) {
        EXPECT_EQ(EndTick(track), end) << "all tracks end together";
        for (const MidiEvent& e : track) {
            if (IsNoteOn(e)) {
                first_note = std::min(first_note, e.tick);
            } else if (IsNoteOff(e)) {
                last_note_off = std::max(last_note_off, e.tick);
            }
        }
    }
    const double seconds = Seconds(midi, end);
    EXPECT_GE(seconds, 30.0);
    EXPECT_LE(seconds, 90.0);
    // The loop restarts from the top: music from the first tick, and the last note runs to
    // the end, with no silent tail.
    EXPECT_EQ(first_note, 0U);
    EXPECT_EQ(last_note_off, end);
    EXPECT_EQ(end % (4U * static_cast<std::uint32_t>(midi.division)), 0U) << "whole 4/4 bars";
}

TEST(MelodyNotation, ReadsPitchesLengthsAndChords) {
    using koma::tune::WrittenNote;
    const std::vector<WrittenNote> bar =
        koma::tune::ParseMelodyBar("C4/4. F#4/8 Bb3/16 B#3/16 r/8 A5/4");
    ASSERT_EQ(bar.size(), 6U);
    EXPECT_EQ(bar[0].key, 60);
    EXPECT_EQ(bar[0].ticks, 720U);
    EXPECT_EQ(bar[1].key, 66);
    EXPECT_EQ(bar[2].key, 58);
    EXPECT_EQ(bar[3].key, 60) << "the octave number goes with the letter";
    EXPECT_EQ(bar[4].key, WrittenNote::kRest);
    EXPECT_EQ(bar[5].key, 81);

    EXPECT_THROW(koma::tune::ParseMelodyBar("C4/4 D4/4 E4/4"), std::invalid_argument);
    EXPECT_THROW(koma::tune::ParseMelodyBar("C4/2 D4/2 E4/4"), std::invalid_argument);
    EXPECT_THROW(koma::tune::ParseMelodyBar("H4/1"), std::invalid_argument);
    EXPECT_THROW(koma::tune::ParseMelodyBar("C4/3 C4/3 C4/3"), std::invalid_argument);

    const koma::tune::Chord seventh = koma::tune::ParseChord("Bb7");
    EXPECT_EQ(seventh.root, 10);
    EXPECT_EQ(seventh.intervals, (std::vector<int>{0, 4, 7, 10}));
    EXPECT_EQ(koma::tune::ParseChord("F#m").intervals, (std::vector<int>{0, 3, 7}));
    EXPECT_THROW(koma::tune::ParseChord("Csus4"), std::invalid_argument);
}

TEST(CommittedSounds, KomaMidiIsWhatTheGeneratorWrites) {
    EXPECT_EQ(koma::tune::ComposeKomaMidi(), koma::tune::ComposeKomaMidi());
    EXPECT_TRUE(ReadFile(std::filesystem::path{KOMA_ASSETS_DIR} / "koma.mid") ==
                koma::tune::ComposeKomaMidi())
        << "assets/koma.mid is out of date: build the target koma_regenerate_tune";
}

}  // namespace
