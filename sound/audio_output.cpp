#include "sound/audio_output.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <chrono>

#include "sound/music_device.h"

namespace koma::sound {
namespace {

constexpr int kRequestedRate = 44100;
// About 46 ms per buffer: short enough for a prompt restart of the music. Each buffer wakes the
// audio thread with cold caches, which costs more than the rendering itself: half as many as
// with 23 ms keep the playing music under 1 % of a core.
constexpr int kBufferFrames = 2048;
constexpr int kEffectChannels = 4;
// SDL keeps at most this many devices open, numbered from 1.
constexpr std::uint32_t kMaxDevices = 16;
// Some forty buffers: a device that has asked for nothing for this long is gone, even on a
// machine too busy to run its audio thread on time.
constexpr std::int64_t kStalledNs = 2'000'000'000;

// SDL's own reason names drivers and devices; the player needs to know what to look at.
constexpr char kNoOutput[] = "音を出せません (デスクトップのサウンドサーバーは動いていますか?)";

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void RenderMusic(void* source, Uint8* stream, int bytes) {
    const int frames = bytes / (AudioOutput::kChannels * static_cast<int>(sizeof(std::int16_t)));
    static_cast<AudioOutput::MusicSource*>(source)->Render(reinterpret_cast<std::int16_t*>(stream),
                                                           frames);
}

}  // namespace

AudioOutput::~AudioOutput() {
    Close();
}

void AudioOutput::Open() {
    if (open_ && IsDeviceThere()) {
        return;
    }
    Close();  // a device that has gone comes back only when opened anew
    // Otherwise SDL turns SIGINT and SIGTERM into quit events that a Qt program never reads,
    // and the program no longer ends on them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        throw SoundError(kNoOutput);
    }
    // Format and channel count are fixed so that the music can be rendered straight into the
    // buffer; SDL converts if the card wants something else.
    int rate = 0;
    if (Mix_OpenAudioDevice(kRequestedRate, AUDIO_S16SYS, kChannels, kBufferFrames, nullptr,
                            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        throw SoundError(kNoOutput);
    }
    if (Mix_QuerySpec(&rate, nullptr, nullptr) == 0 || rate <= 0) {
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        throw SoundError(kNoOutput);
    }
    Mix_AllocateChannels(kEffectChannels);
    // The mixer does not say which device it opened; it is the only one the game opens, and
    // the mixer has started it.
    device_ = 0;
    for (std::uint32_t id = 1; id <= kMaxDevices && device_ == 0; ++id) {
        if (SDL_GetAudioDeviceStatus(id) != SDL_AUDIO_STOPPED) {
            device_ = id;
        }
    }
    open_ = true;
    sample_rate_ = rate;
    ++openings_;
    mixed_at_ = Now();
    Mix_SetPostMix(&NoteMixed, this);
    Hook();
}

bool AudioOutput::CloseIfSilent() {
    if (open_ && IsDeviceThere() &&
        (Mix_Playing(-1) > 0 || (music_ != nullptr && music_->IsSounding()))) {
        return false;
    }
    Close();
    return true;
}

void AudioOutput::Close() {
    if (!open_) {
        return;
    }
    // The music first: closing the mixer while it renders would pull the buffer from under it.
    Mix_HookMusic(nullptr, nullptr);
    Mix_SetPostMix(nullptr, nullptr);
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    open_ = false;
    sample_rate_ = 0;
}

void AudioOutput::SetMusic(MusicSource* music) {
    music_ = music;
    Hook();
}

void AudioOutput::RemoveMusic(const MusicSource* music) {
    if (music_ == music) {
        music_ = nullptr;
        Hook();
    }
}

bool AudioOutput::IsDeviceThere() const {
    // SDL's PipeWire driver never reports a server that has ended: its device only stops asking
    // for sound, and its thread would wait for the old server for ever.
    return Now() - mixed_at_ < kStalledNs &&
           (device_ == 0 || SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_STOPPED);
}

void AudioOutput::NoteMixed(void* output, std::uint8_t* /*stream*/, int /*bytes*/) {
    static_cast<AudioOutput*>(output)->mixed_at_ = Now();
}

void AudioOutput::Hook() const {
    if (open_) {
        // Waits for a render in progress.
        Mix_HookMusic(music_ != nullptr ? &RenderMusic : nullptr, music_);
    }
}

}  // namespace koma::sound
