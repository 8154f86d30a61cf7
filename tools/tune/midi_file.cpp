#include "tools/tune/midi_file.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace koma::tune {
namespace {

std::uint8_t DataByte(int value) {
    if (value < 0 || value > 127) {
        throw std::invalid_argument("MIDI data byte out of range");
    }
    return static_cast<std::uint8_t>(value);
}

std::uint8_t StatusByte(int kind, int channel) {
    if (channel < 0 || channel > 15) {
        throw std::invalid_argument("MIDI channel out of range");
    }
    return static_cast<std::uint8_t>(kind | channel);
}

void AppendBigEndian(Bytes& out, std::uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFFU));
    }
}

Bytes MetaEvent(std::uint8_t type, const Bytes& payload) {
    Bytes data{0xFF, type};
    AppendVariableLength(data, static_cast<std::uint32_t>(payload.size()));
    data.insert(data.end(), payload.begin(), payload.end());
    return data;
}

constexpr int kNoteOffOrder = 0;
constexpr int kOtherOrder = 1;

}  // namespace

void AppendVariableLength(Bytes& out, std::uint32_t value) {
    // SMF allows at most four groups of seven bits.
    if (value > 0x0FFFFFFFU) {
        throw std::invalid_argument("variable-length quantity too large");
    }
    std::array<std::uint8_t, 4> groups{};
    std::size_t count = 0;
    do {
        groups.at(count++) = static_cast<std::uint8_t>(value & 0x7FU);
        value >>= 7;
    } while (value != 0);
    while (count > 1) {
        out.push_back(static_cast<std::uint8_t>(groups.at(--count) | 0x80U));
    }
    out.push_back(groups[0]);
}

void MidiTrack::Add(std::uint32_t tick, int order, Bytes data) {
    events_.push_back(Event{tick, order, events_.size(), std::move(data)});
}

void MidiTrack::AddName(std::string_view name) {
    Add(0, kOtherOrder, MetaEvent(0x03, Bytes(name.begin(), name.end())));
}

void MidiTrack::AddTempo(std::uint32_t tick, std::uint32_t microseconds_per_quarter) {
    Bytes payload;
    AppendBigEndian(payload, microseconds_per_quarter, 3);
    Add(tick, kOtherOrder, MetaEvent(0x51, payload));
}

void MidiTrack::AddTimeSignature(std::uint32_t tick, int numerator, int denominator_power) {
    // 24 MIDI clocks per metronome click and 8 thirty-seconds per quarter: the usual values.
    Add(tick, kOtherOrder,
        MetaEvent(0x58, Bytes{DataByte(numerator), DataByte(denominator_power), 24, 8}));
}

void MidiTrack::AddKeySignature(std::uint32_t tick, int sharps, bool minor) {
    Add(tick, kOtherOrder,
        MetaEvent(0x59, Bytes{static_cast<std::uint8_t>(static_cast<std::int8_t>(sharps)),
                              static_cast<std::uint8_t>(minor ? 1 : 0)}));
}

void MidiTrack::AddProgram(std::uint32_t tick, int channel, int program) {
    Add(tick, kOtherOrder, Bytes{StatusByte(0xC0, channel), DataByte(program)});
}

void MidiTrack::AddController(std::uint32_t tick, int channel, int controller, int value) {
    Add(tick, kOtherOrder, Bytes{StatusByte(0xB0, channel), DataByte(controller), DataByte(value)});
}

void MidiTrack::AddPitchBend(std::uint32_t tick, int channel, int value) {
    Add(tick, kOtherOrder,
        Bytes{StatusByte(0xE0, channel), DataByte(value & 0x7F), DataByte(value >> 7)});
}

void MidiTrack::AddNote(std::uint32_t start, std::uint32_t length, int channel, int key,
                        int velocity) {
    if (length == 0 || velocity == 0) {
        throw std::invalid_argument("a note needs a length and a velocity");
    }
    Add(start, kOtherOrder, Bytes{StatusByte(0x90, channel), DataByte(key), DataByte(velocity)});
    Add(start + length, kNoteOffOrder, Bytes{StatusByte(0x80, channel), DataByte(key), 64});
}

std::uint32_t MidiTrack::LastTick() const {
    std::uint32_t last = 0;
    for (const Event& event : events_) {
        last = std::max(last, event.tick);
    }
    return last;
}

Bytes MidiTrack::Encode(std::uint32_t end_tick) const {
    if (end_tick < LastTick()) {
        throw std::invalid_argument("End of Track before the track's last event");
    }
    std::vector<const Event*> sorted;
    sorted.reserve(events_.size());
    for (const Event& event : events_) {
        sorted.push_back(&event);
    }
    std::ranges::sort(sorted, [](const Event* a, const Event* b) {
        if (a->tick != b->tick) {
            return a->tick < b->tick;
        }
        if (a->order != b->order) {
            return a->order < b->order;
        }
        return a->sequence < b->sequence;
    });

    Bytes body;
    std::uint32_t now = 0;
    for (const Event* event : sorted) {
        AppendVariableLength(body, event->tick - now);
        now = event->tick;
        body.insert(body.end(), event->data.begin(), event->data.end());
    }
    AppendVariableLength(body, end_tick - now);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});

    Bytes chunk{'M', 'T', 'r', 'k'};
    AppendBigEndian(chunk, static_cast<std::uint32_t>(body.size()), 4);
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

Bytes EncodeMidiFile(const std::vector<MidiTrack>& tracks, std::uint16_t ticks_per_quarter,
                     std::uint32_t end_tick) {
    Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    AppendBigEndian(file, static_cast<std::uint32_t>(tracks.size()), 2);
    AppendBigEndian(file, ticks_per_quarter, 2);
    for (const MidiTrack& track : tracks) {
        const Bytes chunk = track.Encode(end_tick);
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    return file;
}

}  // namespace koma::tune
