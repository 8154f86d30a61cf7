#include "app/game_sound.h"

#include <utility>

#include "sound/checks/memory_room.h"

namespace koma::app {

GameSound::GameSound(std::string module, std::string soundfont)
    : module_(std::move(module)), soundfont_(std::move(soundfont)) {}

void GameSound::Wire(FormOptions& options) {
    options.music = [this] { return sound::MakeModuleMusicDevice(module_, soundfont_); };
    // The fanfare is never worth an error box: a module that cannot be loaded is told when the
    // music needs it. Nor may it take the open files the notice after it needs, when the sound
    // on was refused for want of them.
    options.play_effect = [this](const std::string& file) {
        if (module_.Loaded() == nullptr && !sound::HasDescriptorsFor(sound::kSoundDescriptors)) {
            return;
        }
        if (sound::SoundSystem* const system = module_.Load()) {
            system->PlayEffect(file);
        }
    };
    // Nothing to release before the module is loaded; the release never loads it.
    options.release_audio = [this] {
        sound::SoundSystem* const system = module_.Loaded();
        return system == nullptr || system->ReleaseAudio();
    };
}

}  // namespace koma::app
