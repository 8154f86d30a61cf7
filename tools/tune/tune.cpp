#include "tools/tune/tune.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/tune/score.h"

namespace koma::tune {
namespace {

constexpr std::uint32_t kBeat = kTicksPerQuarter;
constexpr std::uint32_t kEighth = kBeat / 2;
constexpr std::uint32_t kSixteenth = kBeat / 4;

// General MIDI programs are numbered from 1 in the tables people read; the file stores them
// from 0.
constexpr int kDrawbarOrgan = 17 - 1;
constexpr int kFingeredBass = 34 - 1;
constexpr int kGrandPiano = 1 - 1;

constexpr int kMelodyChannel = 0;
constexpr int kBassChannel = 1;
constexpr int kPianoChannel = 2;
constexpr int kDrumChannel = 9;

// General MIDI percussion keys.
constexpr int kKick = 36;
constexpr int kSnare = 38;
constexpr int kClosedHiHat = 42;
constexpr int kCrash = 49;
constexpr int kRide = 51;
constexpr int kLowTom = 45;
constexpr int kMidTom = 47;
constexpr int kHighMidTom = 48;
constexpr int kHighTom = 50;

constexpr int kVolumeController = 7;
constexpr int kPanController = 10;
constexpr int kReverbController = 91;

std::vector<std::string_view> SplitWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        pos = end;
    }
    return words;
}

[[noreturn]] void Reject(std::string_view what, std::string_view text) {
    throw std::invalid_argument(std::string(what) + ": \"" + std::string(text) + "\"");
}

// A note name as written: its natural (C D E F G A B as 0 2 4 5 7 9 11) and the semitones
// its sharps (+1 each) or flats (-1 each) add.
struct NoteName {
    int natural = 0;
    int accidental = 0;
    int PitchClass() const { return ((natural + accidental) % 12 + 12) % 12; }
};

// Reads a note name from the front of `text`, which keeps what follows.
NoteName TakeNoteName(std::string_view& text, std::string_view whole) {
    static constexpr std::array<int, 7> kNaturals{9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (text.empty() || text.front() < 'A' || text.front() > 'G') {
        Reject("bad note name", whole);
    }
    NoteName name{kNaturals.at(static_cast<std::size_t>(text.front() - 'A')), 0};
    text.remove_prefix(1);
    while (!text.empty() && (text.front() == '#' || text.front() == 'b')) {
        name.accidental += text.front() == '#' ? 1 : -1;
        text.remove_prefix(1);
    }
    return name;
}

// "C4" is middle C (60); the octave goes with the natural, so B#3 is C4 and Cb4 is B3.
int ParseKey(std::string_view pitch, std::string_view whole) {
    std::string_view rest = pitch;
    const NoteName name = TakeNoteName(rest, whole);
    if (rest.size() != 1 || rest.front() < '0' || rest.front() > '8') {
        Reject("bad octave", whole);
    }
    return 12 * (rest.front() - '0' + 1) + name.natural + name.accidental;
}

std::uint32_t ParseLength(std::string_view length, std::string_view whole) {
    const bool dotted = !length.empty() && length.back() == '.';
    if (dotted) {
        length.remove_suffix(1);
    }
    static constexpr std::array<std::pair<std::string_view, std::uint32_t>, 5> kLengths{{
        {"1", kTicksPerBar},
        {"2", kTicksPerBar / 2},
        {"4", kBeat},
        {"8", kEighth},
        {"16", kSixteenth},
    }};
    for (const auto& [name, ticks] : kLengths) {
        if (name == length) {
            return dotted ? ticks + ticks / 2 : ticks;
        }
    }
    Reject("bad note length", whole);
}

// A chord playing from `start` for `length` ticks.
struct ChordSpan {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::string_view symbol;
    Chord chord;
};

struct Piece {
    std::vector<ScoreBar> bars;
    std::uint32_t EndTick() const { return static_cast<std::uint32_t>(bars.size()) * kTicksPerBar; }
};

Piece PlayingOrder() {
    Piece piece;
    for (const std::span<const ScoreBar> section : kForm) {
        piece.bars.insert(piece.bars.end(), section.begin(), section.end());
    }
    return piece;
}

std::vector<ChordSpan> Harmony(const Piece& piece) {
    std::vector<ChordSpan> spans;
    for (std::size_t bar = 0; bar < piece.bars.size(); ++bar) {
        const std::vector<std::string_view> symbols = SplitWords(piece.bars[bar].chords);
        if (symbols.empty() || symbols.size() > 2) {
            Reject("a bar needs one or two chords", piece.bars[bar].chords);
        }
        const auto length = static_cast<std::uint32_t>(kTicksPerBar / symbols.size());
        std::uint32_t start = static_cast<std::uint32_t>(bar) * kTicksPerBar;
        for (const std::string_view symbol : symbols) {
            spans.push_back(ChordSpan{start, length, symbol, ParseChord(symbol)});
            start += length;
        }
    }
    return spans;
}

void SetUpPart(MidiTrack& track, std::string_view name, int channel, int program, int volume,
               int pan, int reverb) {
    track.AddName(name);
    if (channel != kDrumChannel) {
        track.AddProgram(0, channel, program);
    }
    track.AddController(0, channel, kVolumeController, volume);
    track.AddController(0, channel, kPanController, pan);
    track.AddController(0, channel, kReverbController, reverb);
}

MidiTrack ConductorTrack() {
    MidiTrack track;
    track.AddName("KOMA");
    track.AddTimeSignature(0, 4, 2);
    track.AddKeySignature(0, 0, false);
    track.AddTempo(0, kMicrosecondsPerQuarter);
    return track;
}

MidiTrack MelodyTrack(const Piece& piece) {
    MidiTrack track;
    SetUpPart(track, "Organ", kMelodyChannel, kDrawbarOrgan, 100, 64, 40);
    const std::uint32_t end = piece.EndTick();
    std::uint32_t now = 0;
    for (const ScoreBar& bar : piece.bars) {
        for (const WrittenNote& note : ParseMelodyBar(bar.melody)) {
            if (note.key != WrittenNote::kRest) {
                // A little air between notes makes the organ bounce; the last note is held
                // right to the end so the loop joins up.
                const std::uint32_t gap =
                    now + note.ticks == end ? 0 : std::min(note.ticks / 8, 60U);
                const int velocity = now % kBeat == 0 ? 100 : 88;
                track.AddNote(now, note.ticks - gap, kMelodyChannel, note.key, velocity);
            }
            now += note.ticks;
        }
    }
    return track;
}

// Bass register: roots from G#1 up to G2.
int BassRoot(int pitch_class) {
    return pitch_class <= 7 ? 36 + pitch_class : 24 + pitch_class;
}

MidiTrack BassTrack(const std::vector<ChordSpan>& harmony) {
    MidiTrack track;
    SetUpPart(track, "Bass", kBassChannel, kFingeredBass, 110, 64, 20);
    std::string_view previous;
    for (const ChordSpan& span : harmony) {
        const int root = BassRoot(span.chord.root);
        const int third = root + span.chord.intervals.at(1);
        const int fifth = root + span.chord.intervals.at(2);
        std::vector<int> line;
        if (span.length < kTicksPerBar) {
            line = {root, fifth};
        } else if (span.symbol == previous) {
            line = {root, third, fifth, root + 9};  // a chord held over walks up
        } else {
            line = {root, fifth, root + 12, fifth};
        }
        std::uint32_t tick = span.start;
        for (const int key : line) {
            track.AddNote(tick, kBeat - 80, kBassChannel, key, tick % kTicksPerBar == 0 ? 108 : 96);
            tick += kBeat;
        }
        previous = span.symbol;
    }
    return track;
}

// Close position between G3 and F#4, where the piano sits under the organ.
int PianoKey(int pitch_class) {
    constexpr int kLowest = 55;
    return kLowest + ((pitch_class - kLowest) % 12 + 12) % 12;
}

MidiTrack PianoTrack(const std::vector<ChordSpan>& harmony) {
    MidiTrack track;
    SetUpPart(track, "Piano", kPianoChannel, kGrandPiano, 72, 44, 40);
    for (const ChordSpan& span : harmony) {
        // Short chords on the off-beats (2 and 4), against the bass on 1 and 3.
        for (std::uint32_t offset = kBeat; offset < span.length; offset += 2 * kBeat) {
            for (const int interval : span.chord.intervals) {
                track.AddNote(span.start + offset, kEighth - 40, kPianoChannel,
                              PianoKey(span.chord.root + interval), 74);
            }
        }
    }
    return track;
}

class DrumBar {
  public:
    DrumBar(MidiTrack& track, std::uint32_t bar_start) : track_(track), start_(bar_start) {}
    void Hit(std::uint32_t offset, int key, int velocity) {
        track_.AddNote(start_ + offset, kSixteenth, kDrumChannel, key, velocity);
    }

  private:
    MidiTrack& track_;
    std::uint32_t start_;
};

enum class Fill { kNone, kSnareRun, kTomRun };

void PlayDrumBar(DrumBar& bar, bool section_start, bool bridge, bool odd_bar, Fill fill) {
    // The fill takes over the last beat (snare) or the last two beats (toms).
    const std::uint32_t groove_end = fill == Fill::kTomRun     ? 2 * kBeat
                                     : fill == Fill::kSnareRun ? 3 * kBeat
                                                               : kTicksPerBar;
    for (std::uint32_t t = 0; t < groove_end; t += kEighth) {
        if (t == 0 && section_start) {
            bar.Hit(t, kCrash, 104);
        } else {
            bar.Hit(t, bridge ? kRide : kClosedHiHat, t % kBeat == 0 ? 80 : 58);
        }
    }
    for (std::uint32_t t = 0; t < groove_end; t += kBeat) {
        const bool backbeat = (t / kBeat) % 2 == 1;
        bar.Hit(t, backbeat ? kSnare : kKick, backbeat ? 96 : 106);
    }
    if (odd_bar && fill == Fill::kNone) {
        bar.Hit(2 * kBeat + kEighth, kKick, 82);  // the skip that makes it bounce
    }
    if (fill == Fill::kSnareRun) {
        constexpr std::array<int, 4> kRising{72, 82, 92, 104};
        for (std::size_t i = 0; i < kRising.size(); ++i) {
            bar.Hit(3 * kBeat + static_cast<std::uint32_t>(i) * kSixteenth, kSnare, kRising[i]);
        }
    } else if (fill == Fill::kTomRun) {
        constexpr std::array<int, 8> kDownTheToms{kHighTom, kHighTom, kHighMidTom, kHighMidTom,
                                                  kMidTom,  kMidTom,  kLowTom,     kLowTom};
        bar.Hit(2 * kBeat, kKick, 100);
        for (std::size_t i = 0; i < kDownTheToms.size(); ++i) {
            bar.Hit(2 * kBeat + static_cast<std::uint32_t>(i) * kSixteenth, kDownTheToms[i],
                    76 + 5 * static_cast<int>(i));
        }
    }
}

MidiTrack DrumTrack(const Piece& piece) {
    MidiTrack track;
    SetUpPart(track, "Drums", kDrumChannel, 0, 96, 64, 30);
    for (std::size_t index = 0; index < piece.bars.size(); ++index) {
        const auto bar_number = static_cast<int>(index);
        const int section = bar_number / kBarsPerSection;
        const int in_section = bar_number % kBarsPerSection;
        Fill fill = Fill::kNone;
        if (in_section == kBarsPerSection - 1) {
            // Toms lead into the bridge and back round to the top; the snare does the rest.
            fill = section % 2 == 1 ? Fill::kTomRun : Fill::kSnareRun;
        }
        DrumBar bar(track, static_cast<std::uint32_t>(index) * kTicksPerBar);
        PlayDrumBar(bar, in_section == 0, section == kBridgeSection, in_section % 2 == 1, fill);
    }
    return track;
}

}  // namespace

std::vector<WrittenNote> ParseMelodyBar(std::string_view bar) {
    std::vector<WrittenNote> notes;
    std::uint32_t total = 0;
    for (const std::string_view token : SplitWords(bar)) {
        const std::size_t slash = token.find('/');
        if (slash == std::string_view::npos) {
            Reject("note without a length", token);
        }
        const std::string_view pitch = token.substr(0, slash);
        WrittenNote note;
        note.key = pitch == "r" ? WrittenNote::kRest : ParseKey(pitch, token);
        note.ticks = ParseLength(token.substr(slash + 1), token);
        total += note.ticks;
        notes.push_back(note);
    }
    if (total != kTicksPerBar) {
        Reject("bar does not fill four beats", bar);
    }
    return notes;
}

Chord ParseChord(std::string_view symbol) {
    std::string_view rest = symbol;
    Chord chord;
    chord.root = TakeNoteName(rest, symbol).PitchClass();
    static constexpr std::array<std::pair<std::string_view, std::array<int, 4>>, 7> kQualities{{
        {"", {0, 4, 7, -1}},
        {"m", {0, 3, 7, -1}},
        {"7", {0, 4, 7, 10}},
        {"m7", {0, 3, 7, 10}},
        {"maj7", {0, 4, 7, 11}},
        {"6", {0, 4, 7, 9}},
        {"dim", {0, 3, 6, -1}},
    }};
    for (const auto& [name, intervals] : kQualities) {
        if (name == rest) {
            for (const int interval : intervals) {
                if (interval >= 0) {
                    chord.intervals.push_back(interval);
                }
            }
            return chord;
        }
    }
    Reject("unknown chord", symbol);
}

Bytes ComposeKomaMidi() {
    const Piece piece = PlayingOrder();
    const std::vector<ChordSpan> harmony = Harmony(piece);
    const std::vector<MidiTrack> tracks{
        ConductorTrack(),    MelodyTrack(piece), BassTrack(harmony),
        PianoTrack(harmony), DrumTrack(piece),
    };
    return EncodeMidiFile(tracks, kTicksPerQuarter, piece.EndTick());
}

}  // namespace koma::tune
