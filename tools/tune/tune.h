// Turns the score into "koma.mid": organ melody, bass, piano comping and drums.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tools/tune/midi_file.h"

namespace koma::tune {

inline constexpr std::uint16_t kTicksPerQuarter = 480;
inline constexpr std::uint32_t kTicksPerBar = 4 * kTicksPerQuarter;
// 150 beats a minute: brisk enough to bounce, slow enough for the organ runs.
inline constexpr std::uint32_t kMicrosecondsPerQuarter = 400'000;

// One written note: a MIDI key (60 is middle C) or a rest, and its length in ticks.
struct WrittenNote {
    static constexpr int kRest = -1;
    int key = kRest;
    std::uint32_t ticks = 0;
};

// Reads one bar of melody ("C5/4 E5/8 r/4 ..."); throws std::invalid_argument on a bad token
// or when the bar does not add up to exactly one 4/4 bar.
std::vector<WrittenNote> ParseMelodyBar(std::string_view bar);

// A chord as its root's pitch class (0 = C) and the semitones of its tones above the root.
struct Chord {
    int root = 0;
    std::vector<int> intervals;
};

// Reads a chord symbol ("C", "F#m7", "Bbmaj7"...); throws std::invalid_argument if unknown.
Chord ParseChord(std::string_view symbol);

// The whole piece as a format-1 Standard MIDI File.
Bytes ComposeKomaMidi();

}  // namespace koma::tune
