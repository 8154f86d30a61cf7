// The game's side of the sound module: finding it, loading it on the first need, and the music
// device the window opens at start-up, which checks the files there and then and asks the
// module for the real device only once something is to sound.
#pragma once

#include <memory>
#include <string>

#include "sound/music_device.h"
#include "sound/sound_system.h"

namespace koma::sound {

// The one place this game binary loads its module from, fixed when the binary is built
// (sound/game/module_place.cpp): the package's private folder for the installed game, beside itself
// for the game in a build folder.
std::string InstalledModulePath();

class SoundModule {
  public:
    explicit SoundModule(std::string path);
    SoundModule(const SoundModule&) = delete;
    SoundModule& operator=(const SoundModule&) = delete;
    // Destroys the sound system, which closes the output. The module itself stays loaded until
    // the program ends: SDL's and FluidSynth's libraries are not made to be unloaded.
    ~SoundModule();

    // The sound system, loading the module on the first call; nullptr when it cannot be
    // loaded. A module that fails its checks or its loading is not tried again; without the
    // memory for it nothing is tried, and the next call asks again. Only the very file that
    // passed ModuleFile's checks is loaded, and used only when built for this game's interface
    // version.
    SoundSystem* Load();
    // The sound system if the module is loaded; never loads it.
    SoundSystem* Loaded() const { return system_.get(); }
    // After a failed Load(): throws SoundError saying why, in the player's words, the first
    // time it is called; afterwards the failure has been told and it does nothing.
    void ReportFailure();

  private:
    std::string path_;
    bool tried_ = false;
    std::string failure_;  // why the module could not be loaded, until told
    std::unique_ptr<SoundSystem> system_;
};

// Open files the output and the notice after it need at a sound on: with PipeWire it took 32
// more than the window held, with PulseAudio 13. With fewer left the output failed halfway,
// or the notice could not be drawn and the window waited for ever on the X server.
inline constexpr int kSoundDescriptors = 48;

// The music device of the game. Opening it checks the music file and the sound font (empty:
// the default one) without loading the module; the first Prepare() or Play() loads it, once
// enough open files are left for the output (kSoundDescriptors). When the module cannot be
// loaded, that Prepare() reports it once and the device stays silent; a refusal for want of
// memory or of open files is reported at every Prepare() until there is room.
std::unique_ptr<MusicDevice> MakeModuleMusicDevice(SoundModule& module, std::string soundfont);

}  // namespace koma::sound
