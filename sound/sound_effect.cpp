#include "sound/sound_effect.h"

#include <SDL_mixer.h>

#include <vector>

#include "sound/music_device.h"
#include "sound/plain_file.h"

namespace koma::sound {
namespace {

// A minute and a half at CD quality, a hundred times the game's fanfare: anything larger is no
// short sound, and converting it for the output would cost hundreds of MB.
constexpr std::size_t kMaxEffectBytes = std::size_t{16} << 20;

}  // namespace

void SoundEffect::ChunkDeleter::operator()(Mix_Chunk* chunk) const {
    Mix_FreeChunk(chunk);  // also halts every channel still playing it
}

SoundEffect::SoundEffect(AudioOutput& output) : output_(output) {}

SoundEffect::~SoundEffect() = default;

void SoundEffect::Play(const std::string& path) {
    try {
        output_.Open();
    } catch (const SoundError&) {
        return;  // the fanfare is never worth an error box
    }
    if (output_.Openings() != openings_) {
        chunks_.clear();  // converted for an output that has been closed since
        openings_ = output_.Openings();
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
    const PlainFile file(path);
    std::vector<char> bytes;
    if (file.size() > kMaxEffectBytes || !file.ReadAll(bytes)) {
        return nullptr;
    }
    // A failed load is not remembered, so a file that appears later still plays.
    ChunkPtr chunk(
        Mix_LoadWAV_RW(SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size())), 1));
    if (chunk == nullptr) {
        return nullptr;
    }
    return chunks_.emplace(path, std::move(chunk)).first->second.get();
}

}  // namespace koma::sound
