// The two sound files: each generator writes a well-formed file of the right shape, and the
// files committed in assets/ are exactly what the generators write today.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tools/fanfare/fanfare.h"
#include "tools/tune/tune.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path.string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A cursor over big- or little-endian bytes that refuses to run past the end.
class Reader {
  public:
    Reader(const Bytes& bytes, std::size_t begin, std::size_t end)
        : bytes_(bytes), pos_(begin), end_(end) {}

    bool AtEnd() const { return pos_ == end_; }
    std::size_t Position() const { return pos_; }

    std::uint8_t Byte() {
        if (pos_ >= end_) {
            throw std::runtime_error("read past the end of a chunk");
        }
        return bytes_[pos_++];
    }
    std::uint8_t PeekByte() const {
        if (pos_ >= end_) {
            throw std::runtime_error("read past the end of a chunk");
        }
        return bytes_[pos_];
    }
    std::uint32_t BigEndian(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value = (value << 8) | Byte();
        }
        return value;
    }
    std::uint32_t LittleEndian(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        }
        return value;
    }
    std::string Tag() {
        std::string tag;
        for (int i = 0; i < 4; ++i) {
            tag.push_back(static_cast<char>(Byte()));
        }
        return tag;
    }
    // At most four bytes, as the SMF format allows.
    std::uint32_t VariableLength() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t byte = Byte();
            value = (value << 7) | (byte & 0x7FU);
            if ((byte & 0x80U) == 0) {
                return value;
            }
        }
        throw std::runtime_error("variable-length quantity longer than four bytes");
    }
    void Skip(std::size_t count) {
        if (count > end_ - pos_) {
            throw std::runtime_error("data runs past the end of a chunk");
        }
        pos_ += count;
    }

  private:
    const Bytes& bytes_;
    std::size_t pos_;
    std::size_t end_;
};

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

struct WavInfo {
    int channels = 0;
    int sample_rate = 0;
    int bits = 0;
    std::vector<std::int16_t> samples;
};

// A PCM RIFF/WAVE file: the chunk sizes must agree with the file's length.
WavInfo ParseWav(const Bytes& bytes) {
    Reader file(bytes, 0, bytes.size());
    if (file.Tag() != "RIFF" || file.LittleEndian(4) != bytes.size() - 8 || file.Tag() != "WAVE") {
        throw std::runtime_error("not a RIFF/WAVE file of the stated size");
    }
    WavInfo wav;
    bool have_format = false;
    while (!file.AtEnd()) {
        const std::string tag = file.Tag();
        const std::uint32_t size = file.LittleEndian(4);
        if (tag == "fmt ") {
            if (size < 16 || file.LittleEndian(2) != 1) {
                throw std::runtime_error("not PCM");
            }
            wav.channels = static_cast<int>(file.LittleEndian(2));
            wav.sample_rate = static_cast<int>(file.LittleEndian(4));
            const std::uint32_t byte_rate = file.LittleEndian(4);
            const std::uint32_t block_align = file.LittleEndian(2);
            wav.bits = static_cast<int>(file.LittleEndian(2));
            if (block_align != static_cast<std::uint32_t>(wav.channels * wav.bits / 8) ||
                byte_rate != block_align * static_cast<std::uint32_t>(wav.sample_rate)) {
                throw std::runtime_error("inconsistent format block");
            }
            file.Skip(size - 16);
            have_format = true;
        } else if (tag == "data") {
            if (!have_format || wav.bits != 16 || size % 2 != 0) {
                throw std::runtime_error("data before format, or not 16-bit");
            }
            for (std::uint32_t i = 0; i < size / 2; ++i) {
                wav.samples.push_back(static_cast<std::int16_t>(file.LittleEndian(2)));
            }
        } else {
            file.Skip(size + size % 2);
        }
    }
    return wav;
}

TEST(Fanfare, IsAShortUnclipped16BitWav) {
    const WavInfo wav = ParseWav(koma::fanfare::MakeFanfareWav());
    EXPECT_EQ(wav.sample_rate, 44100);
    EXPECT_EQ(wav.bits, 16);
    ASSERT_TRUE(wav.channels == 1 || wav.channels == 2);
    const double seconds = static_cast<double>(wav.samples.size()) / wav.channels / wav.sample_rate;
    EXPECT_GE(seconds, 1.0);
    EXPECT_LE(seconds, 3.0);

    int peak = 0;
    for (const std::int16_t s : wav.samples) {
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    EXPECT_LT(peak, 32767) << "clipped";
    EXPECT_GT(peak, 32767 / 2) << "too quiet to celebrate";
    // It starts from silence and fades out to it: no click either end.
    EXPECT_LT(std::abs(static_cast<int>(wav.samples.front())), 100);
    EXPECT_LT(std::abs(static_cast<int>(wav.samples.back())), 100);
}

TEST(CommittedSounds, AreWhatTheGeneratorsWrite) {
    const std::filesystem::path assets{KOMA_ASSETS_DIR};
    // Both generators must also give the same bytes every time.
    EXPECT_EQ(koma::tune::ComposeKomaMidi(), koma::tune::ComposeKomaMidi());
    EXPECT_EQ(koma::fanfare::MakeFanfareWav(), koma::fanfare::MakeFanfareWav());

    EXPECT_TRUE(ReadFile(assets / "koma.mid") == koma::tune::ComposeKomaMidi())
        << "assets/koma.mid is out of date: build the target koma_regenerate_tune";
    EXPECT_TRUE(ReadFile(assets / std::filesystem::path(u8"一等賞.wav")) ==
                koma::fanfare::MakeFanfareWav())
        << "assets/一等賞.wav is out of date: build the target koma_regenerate_fanfare";
}

}  // namespace
