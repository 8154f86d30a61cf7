// The tune itself, bar by bar: an AABA song form in C major, 4/4, 32 bars.
//
// Each bar gives its harmony and its melody. Harmony is one chord symbol for the whole bar or
// two for its halves ("Dm7 G7"): a root (C, F#, Bb...) and a quality ("" major, "m", "7",
// "m7", "maj7", "6", "dim"). The melody is a row of notes written pitch/length: a pitch like
// C5 or F#4 (C4 is middle C) or r for a rest, and a length 1, 2, 4, 8 or 16 (whole to
// sixteenth), with a dot for half as long again. Every bar must add up to exactly four beats.
#pragma once

#include <array>
#include <span>
#include <string_view>

namespace koma::tune {

struct ScoreBar {
    std::string_view chords;
    std::string_view melody;
};

// The first five bars of every A section: up the tonic triad and back, a lift to IV.
inline constexpr std::array<ScoreBar, 5> kThemeOpening{{
    {"C", "C5/4 E5/8 G5/8 C6/4 G5/4"},
    {"C", "A5/8 G5/8 E5/8 C5/8 D5/4 E5/4"},
    {"F", "F5/4 A5/8 F5/8 C6/4. A5/8"},
    {"C", "G5/2 E5/4 r/4"},
    {"Dm7 G7", "F5/4 D5/8 F5/8 G5/4 B4/4"},
}};

// First A: ends open on the dominant, running down into the repeat.
inline constexpr std::array<ScoreBar, 3> kOpenEnding{{
    {"C Am", "C5/8 E5/8 G5/8 C6/8 A5/4 E5/4"},
    {"D7", "F#5/4 A5/8 F#5/8 D5/4 A5/4"},
    {"G7", "B5/8 A5/8 G5/8 F5/8 D5/4 G4/4"},
}};

// Second A: closes on the tonic and breathes before the bridge.
inline constexpr std::array<ScoreBar, 3> kHomeEnding{{
    {"C A7", "C5/8 E5/8 G5/8 C6/8 C#6/4 A5/4"},
    {"Dm7 G7", "D6/4 A5/8 F5/8 G5/4 B5/4"},
    {"C", "C6/4 G5/8 E5/8 C5/4 r/4"},
}};

// The bridge: over to IV, round the secondary dominants, and a run down into the last A.
inline constexpr std::array<ScoreBar, 8> kBridge{{
    {"F", "A5/4. G5/8 F5/4 C5/4"},
    {"F", "D5/8 E5/8 F5/8 G5/8 A5/2"},
    {"C", "G5/4. F5/8 E5/4 C5/4"},
    {"A7", "C#5/8 E5/8 A5/8 G5/8 E5/2"},
    {"Dm7", "F5/4. E5/8 D5/4 A4/4"},
    {"G7", "B4/8 D5/8 G5/8 F5/8 D5/2"},
    {"E7 Am", "G#5/4 E5/4 A5/4 C6/4"},
    {"D7 G7", "F#5/8 A5/8 C6/8 A5/8 G5/8 F5/8 D5/8 B4/8"},
}};

// Last A: the tonic held to the very end of the bar, so the loop goes straight back to bar 1.
inline constexpr std::array<ScoreBar, 3> kFinalEnding{{
    {"C A7", "C5/8 E5/8 G5/8 C6/8 C#6/4 A5/4"},
    {"Dm7 G7", "D6/4 A5/8 F5/8 G5/4 B5/4"},
    {"C", "C6/4 G5/8 E5/8 C6/2"},
}};

// The song form, in playing order.
inline constexpr std::array<std::span<const ScoreBar>, 7> kForm{{
    kThemeOpening, kOpenEnding,   // A
    kThemeOpening, kHomeEnding,   // A
    kBridge,                      // B
    kThemeOpening, kFinalEnding,  // A
}};

// Bars per section: drums mark each section's start and fill into the next.
inline constexpr int kBarsPerSection = 8;
// Which section is the bridge (0-based), played with a ride cymbal instead of the hi-hat.
inline constexpr int kBridgeSection = 2;

}  // namespace koma::tune
