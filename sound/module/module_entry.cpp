// The sound module's entry: the output, the fanfare and the music devices of one game.

#include "sound/module/audio_output.h"
#include "sound/module/sound_effect.h"
#include "sound/module/synth_music_device.h"
#include "sound/sound_system.h"

namespace koma::sound {
namespace {

class EngineSoundSystem final : public SoundSystem {
  public:
    std::unique_ptr<MusicDevice> OpenMusic(const CheckedMusic& music,
                                           MusicDevice::NotifyHandler notify) override {
        return OpenSynthMusic(output_, music, std::move(notify));
    }
    void PlayEffect(const std::string& file) override { effect_.Play(file); }
    bool ReleaseAudio() override { return output_.CloseIfSilent(); }

  private:
    // The output serves the music and the fanfare, and is open only while either sounds.
    AudioOutput output_;
    SoundEffect effect_{output_};  // after the output: destroyed before it
};

}  // namespace
}  // namespace koma::sound

// Read by the game before it calls anything here.
extern "C" __attribute__((visibility("default"))) const int koma_sound_interface_version =
    koma::sound::kSoundInterfaceVersion;

extern "C" __attribute__((visibility("default"))) koma::sound::SoundSystem*
koma_make_sound_system() {
    // Process-wide, so once, here, on the game's thread, which makes the synthesisers.
    koma::sound::ConfigureFluidSynth();
    // No exception may leave a C function; making it allocates more than the object itself.
    try {
        return new koma::sound::EngineSoundSystem();
    } catch (...) {
        return nullptr;
    }
}
