// The music device of the program: FluidSynth plays the MIDI file into SDL2_mixer's output.
#pragma once

#include <memory>
#include <string>

#include "sound/checks/music_file.h"
#include "sound/module/audio_output.h"
#include "sound/music_device.h"

namespace koma::sound {

// Once in a process, on the thread that makes the devices (the game's), before the first:
// FluidSynth's messages go nowhere, also those of the audio thread, and sound fonts load on
// that thread alone.
void ConfigureFluidSynth();

// A device rendering through `output`, which must outlive it. `soundfont` empty means
// DefaultSoundfont(). Opening checks the file and the sound font; the synthesiser is made and
// the sound font loaded by the first Prepare() or Play(), which also have the output opened
// (AudioOutput::Open: the music sounds once a stopped server is back, without a word). The
// device's notification handler runs on the audio thread (at the end of a play) or inside
// Stop(); it must return quickly and may not wait for the UI.
std::unique_ptr<MusicDevice> MakeSynthMusicDevice(AudioOutput& output, std::string soundfont = {});

// The same device, opened on music that has passed CheckMusic; throws SoundError when the
// synthesiser finds no music in it.
std::unique_ptr<MusicDevice> OpenSynthMusic(AudioOutput& output, const CheckedMusic& music,
                                            MusicDevice::NotifyHandler notify);

}  // namespace koma::sound
