// A minimal Standard MIDI File writer: format 1, one chunk per track, every event with its
// own status byte (no running status), so any reader can follow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace koma::tune {

using Bytes = std::vector<std::uint8_t>;

// One track's events at absolute tick positions. Events at the same tick keep the order
// they were added in, except that note-offs go first, so a note repeated at the very tick
// the previous one ends is not cut off.
class MidiTrack {
  public:
    // Meta events (conductor and naming).
    void AddName(std::string_view name);
    void AddTempo(std::uint32_t tick, std::uint32_t microseconds_per_quarter);
    void AddTimeSignature(std::uint32_t tick, int numerator, int denominator_power);
    void AddKeySignature(std::uint32_t tick, int sharps, bool minor);

    // Channel events; channel is 0-based (0..15), so General MIDI drums are channel 9.
    void AddProgram(std::uint32_t tick, int channel, int program);
    void AddController(std::uint32_t tick, int channel, int controller, int value);
    // `value` 0..16383; 8192 is the centre, no bend.
    void AddPitchBend(std::uint32_t tick, int channel, int value);
    // A note from `start` lasting `length` ticks (length > 0).
    void AddNote(std::uint32_t start, std::uint32_t length, int channel, int key, int velocity);

    // The tick of the last event added so far.
    std::uint32_t LastTick() const;

    // The chunk "MTrk" with End of Track at `end_tick`, which must not come before any
    // event of the track.
    Bytes Encode(std::uint32_t end_tick) const;

  private:
    struct Event {
        std::uint32_t tick;
        int order;  // note-offs 0, everything else 1, at equal ticks
        std::size_t sequence;
        Bytes data;
    };
    void Add(std::uint32_t tick, int order, Bytes data);

    std::vector<Event> events_;
};

// "MThd" for format 1 with `tracks` tracks and `ticks_per_quarter` division, followed by
// the tracks, each ended at `end_tick`.
Bytes EncodeMidiFile(const std::vector<MidiTrack>& tracks, std::uint16_t ticks_per_quarter,
                     std::uint32_t end_tick);

// The variable-length quantity of the SMF format (7 bits a byte, high bit = more follows).
void AppendVariableLength(Bytes& out, std::uint32_t value);

}  // namespace koma::tune
