#include "sound/module/sound_effect.h"

#include <SDL_mixer.h>

#include <chrono>
#include <map>
#include <optional>
#include <vector>

#include "sound/checks/plain_file.h"
#include "sound/module/wav_file.h"
#include "sound/music_device.h"

namespace koma::sound {
namespace {

// A minute and a half at CD quality, a hundred times the game's fanfare: anything larger is no
// short sound, and converting it for the output would cost hundreds of MB.
constexpr std::size_t kMaxEffectBytes = std::size_t{16} << 20;
// What the mixer may allocate to convert one effect for the output: 47 s at 44.1 kHz stereo,
// twenty times the game's fanfare. The mixer multiplies in 32 bits, so an unchecked low-rate
// file would overflow the size and be copied into a buffer far too small.
constexpr std::uint64_t kMaxConvertedBytes = std::uint64_t{8} << 20;
// The latest a sound may start after it was asked for.
constexpr auto kLatestStart = std::chrono::seconds(1);

SDL_AudioFormat DecodedFormat(const WavSound& sound) {
    if (sound.is_float) {
        return AUDIO_F32LSB;
    }
    return sound.bits == 8 ? AUDIO_U8 : sound.bits == 16 ? AUDIO_S16LSB : AUDIO_S32LSB;
}

// The size of the mixer's conversion buffer for `sound`, counted as the mixer does but in 64
// bits; 0 when SDL has no conversion for it.
std::uint64_t ConvertedBytes(const WavSound& sound) {
    int rate = 0;
    Uint16 format = 0;
    int channels = 0;
    SDL_AudioCVT conversion{};
    if (Mix_QuerySpec(&rate, &format, &channels) == 0 ||
        SDL_BuildAudioCVT(&conversion, DecodedFormat(sound), static_cast<Uint8>(sound.channels),
                          sound.rate, format, static_cast<Uint8>(channels), rate) < 0 ||
        conversion.len_mult <= 0) {
        return 0;
    }
    return sound.DecodedBytes() * static_cast<std::uint64_t>(conversion.len_mult);
}

}  // namespace

// Everything here runs on the output's thread, which alone calls the mixer.
class SoundEffect::Chunks {
  public:
    // `openings`: of the output, open now.
    void Play(const std::string& path, int openings);
    void Clear() { loaded_.clear(); }

  private:
    struct ChunkDeleter {
        void operator()(Mix_Chunk* chunk) const {
            Mix_FreeChunk(chunk);  // also halts every channel still playing it
        }
    };
    using ChunkPtr = std::unique_ptr<Mix_Chunk, ChunkDeleter>;
    struct Loaded {
        FileStamp file;  // what was read
        ChunkPtr chunk;
    };

    Mix_Chunk* Load(const std::string& path);

    int openings_ = 0;  // the output's opening the chunks were converted for
    // Kept while the output stays open and the file unchanged: a chunk must stay alive while a
    // channel plays it.
    std::map<std::string, Loaded> loaded_;
};

void SoundEffect::Chunks::Play(const std::string& path, int openings) {
    if (openings != openings_) {
        loaded_.clear();  // converted for an output that has been closed since
        openings_ = openings;
    }
    Mix_Chunk* const chunk = Load(path);
    if (chunk == nullptr) {
        return;
    }
    // -1: the first free channel, so the sound mixes with the music and with itself.
    Mix_PlayChannel(-1, chunk, 0);
}

Mix_Chunk* SoundEffect::Chunks::Load(const std::string& path) {
    // Looked at again at every play: a deleted file plays nothing, a replaced one its new sound.
    const PlainFile file(path);
    if (const auto found = loaded_.find(path); found != loaded_.end()) {
        if (file.problem() == PlainFile::Problem::kNone && found->second.file == file.stamp()) {
            return found->second.chunk.get();
        }
        loaded_.erase(found);
    }
    std::vector<char> bytes;
    if (file.size() > kMaxEffectBytes || !file.ReadAll(bytes)) {
        return nullptr;
    }
    // Only a sound the mixer converts sanely, and only that sound: no other chunk of the file.
    const std::optional<SaneWav> wav = FindSaneWav(bytes);
    if (!wav) {
        return nullptr;
    }
    const std::uint64_t converted = ConvertedBytes(wav->sound);
    if (converted == 0 || converted > kMaxConvertedBytes) {
        return nullptr;
    }
    // A failed load is not remembered, so a file that appears later still plays.
    ChunkPtr chunk(Mix_LoadWAV_RW(
        SDL_RWFromConstMem(wav->file.data(), static_cast<int>(wav->file.size())), 1));
    if (chunk == nullptr) {
        return nullptr;
    }
    return loaded_.emplace(path, Loaded{file.stamp(), std::move(chunk)}).first->second.chunk.get();
}

SoundEffect::SoundEffect(AudioOutput& output)
    : output_(output), chunks_(std::make_shared<Chunks>()) {}

SoundEffect::~SoundEffect() {
    output_.After([chunks = std::move(chunks_)](bool, int) { chunks->Clear(); });
}

void SoundEffect::Play(const std::string& path) {
    const auto asked = std::chrono::steady_clock::now();
    output_.Use([chunks = chunks_, path, asked](bool open, int openings) {
        // A fanfare heard seconds after the completion, once a stopped server is back, would
        // belong to nothing the player did.
        if (open && std::chrono::steady_clock::now() - asked < kLatestStart) {
            chunks->Play(path, openings);
        }
    });
}

}  // namespace koma::sound
