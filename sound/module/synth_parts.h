// The FluidSynth objects the music device is made of, and how they are made: owned handles, a
// synthesiser with the sound font loaded, a player on a piece, the piece's length as FluidSynth
// counts it. The set-up FluidSynth needs once in a process is ConfigureFluidSynth
// (synth_music_device.h).
#pragma once

#include <fluidsynth.h>

#include <memory>
#include <string>
#include <vector>

namespace koma::sound {

// frames: the smallest block FluidSynth renders at once
inline constexpr int kSmallBlock = 64;

struct SettingsDeleter {
    void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* synth) const { delete_fluid_synth(synth); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t* player) const { delete_fluid_player(player); }
};
struct EventDeleter {
    void operator()(fluid_midi_event_t* event) const { delete_fluid_midi_event(event); }
};
using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using PlayerPtr = std::unique_ptr<fluid_player_t, PlayerDeleter>;
using EventPtr = std::unique_ptr<fluid_midi_event_t, EventDeleter>;

// Each throws SoundError when FluidSynth cannot make it.
SettingsPtr MakeSettings();
// A synthesiser at `rate` with `soundfont` loaded whole: samples read later, as FluidSynth's
// dynamic loading does, would come from whatever the file has become by then. Throws
// SoundError saying what is wrong with the sound font, or that memory is short.
SynthPtr MakeVoicedSynth(fluid_settings_t* settings, int rate, const std::string& soundfont);
// A player on `midi` that sends every event to `playback` instead of the synthesiser.
PlayerPtr MakePlayer(fluid_synth_t* synth, const std::vector<char>& midi,
                     handle_midi_event_func_t playback, void* data);
EventPtr MakeEvent();

// The piece's length in ticks as FluidSynth plays it; 0 when it finds no music.
long LengthAsPlayed(const std::vector<char>& midi);
// The file's ticks per quarter note (the player refuses the other kind of header).
int Division(const std::vector<char>& midi);

}  // namespace koma::sound
