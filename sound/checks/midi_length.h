// The length of a MIDI piece, found without the synthesiser.
#pragma once

#include <span>

namespace koma::sound {

// The piece's length in ticks as FluidSynth's player counts it: the longest track, up to its
// last event. 0 when the player would not load the whole file (cut short, corrupt, a kind it
// refuses), or when it holds nothing but ends of tracks.
long MidiLength(std::span<const char> file);

}  // namespace koma::sound
