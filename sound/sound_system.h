// What the sound module offers the game: everything that makes sound, behind the three things
// the window asks for. The module is the project's own shared object; it alone links SDL,
// SDL2_mixer and FluidSynth, so that a game whose sound stays off never loads them.
#pragma once

#include <memory>
#include <string>

#include "sound/checks/music_file.h"
#include "sound/music_device.h"

namespace koma::sound {

class SoundSystem {
  public:
    SoundSystem() = default;
    SoundSystem(const SoundSystem&) = delete;
    SoundSystem& operator=(const SoundSystem&) = delete;
    // Closes the output. Every device made by it must be gone by then.
    virtual ~SoundSystem() = default;

    // A music device playing `music` through the output; throws SoundError when the
    // synthesiser finds no music in it. Its notifications come as MusicDevice describes.
    virtual std::unique_ptr<MusicDevice> OpenMusic(const CheckedMusic& music,
                                                   MusicDevice::NotifyHandler notify) = 0;
    // Plays a WAV file over whatever plays, as SoundEffect::Play does: returns once it has
    // started, after a second at most, and at once while the sound server does not answer.
    virtual void PlayEffect(const std::string& file) = 0;
    // Closes the output if nothing can be heard any more; false while something still sounds,
    // or the sound server has not answered yet (AudioOutput::CloseIfSilent).
    virtual bool ReleaseAudio() = 0;
};

// The module's exported function: makes the sound system, which opens nothing yet. The caller
// owns it; nullptr when it cannot be made.
using MakeSoundSystemFunction = SoundSystem*();
inline constexpr char kMakeSoundSystemSymbol[] = "koma_make_sound_system";

// The layout of everything the game and the module hand each other (these classes, MusicDevice,
// CheckedMusic). The module exports it as a const int; the game calls nothing in a module with
// another number or none. Raise it with every change to them.
inline constexpr int kSoundInterfaceVersion = 2;
inline constexpr char kSoundInterfaceVersionSymbol[] = "koma_sound_interface_version";

}  // namespace koma::sound
