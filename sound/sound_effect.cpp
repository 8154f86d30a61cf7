#include "sound/sound_effect.h"

#include <SDL_mixer.h>

#include <filesystem>
#include <system_error>

namespace koma::sound {

void SoundEffect::ChunkDeleter::operator()(Mix_Chunk* chunk) const {
    Mix_FreeChunk(chunk);  // also halts every channel still playing it
}

SoundEffect::SoundEffect(AudioOutput& output) : output_(output) {}

SoundEffect::~SoundEffect() = default;

void SoundEffect::Play(const std::string& path) {
    if (!output_.IsOpen()) {
        return;
    }
    Mix_Chunk* const chunk = Load(path);
    if (chunk == nullptr) {
        return;
    }
    // -1: the first free channel, so the sound mixes with the music and with itself.
    Mix_PlayChannel(-1, chunk, 0);
}

Mix_Chunk* SoundEffect::Load(const std::string& path) {
    if (const auto found = chunks_.find(path); found != chunks_.end()) {
        return found->second.get();
    }
    // Only a plain file: opening a pipe would wait for a writer that never comes, and a device
    // such as /dev/zero never ends; either would stop the game on the spot.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return nullptr;
    }
    // A failed load is not remembered, so a file that appears later still plays.
    ChunkPtr chunk(Mix_LoadWAV(path.c_str()));
    if (chunk == nullptr) {
        return nullptr;
    }
    return chunks_.emplace(path, std::move(chunk)).first->second.get();
}

}  // namespace koma::sound
