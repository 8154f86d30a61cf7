#include "sound/audio_output.h"

#include <SDL.h>
#include <SDL_mixer.h>

namespace koma::sound {
namespace {

constexpr int kRequestedRate = 44100;
// About 23 ms per buffer: short enough for a prompt restart of the music, long enough to stay
// cheap on the CPU.
constexpr int kBufferFrames = 1024;
constexpr int kEffectChannels = 4;

std::string Describe(const char* what, const char* detail) {
    std::string text = what;
    if (detail != nullptr && *detail != '\0') {
        text += " (";
        text += detail;
        text += ")";
    }
    return text;
}

}  // namespace

// SDL's audio subsystem, initialised for as long as this lives.
struct AudioOutput::SdlAudio {
    SdlAudio() = default;
    SdlAudio(const SdlAudio&) = delete;
    SdlAudio& operator=(const SdlAudio&) = delete;
    ~SdlAudio() { SDL_QuitSubSystem(SDL_INIT_AUDIO); }
};

// SDL2_mixer's output device, open for as long as this lives.
struct AudioOutput::Mixer {
    Mixer() = default;
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;
    ~Mixer() { Mix_CloseAudio(); }
};

AudioOutput::AudioOutput() {
    // Otherwise SDL turns SIGINT and SIGTERM into quit events that a Qt program never reads,
    // and the program no longer ends on them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        error_ = Describe("音声出力を開けません", SDL_GetError());
        return;
    }
    sdl_ = std::make_unique<SdlAudio>();

    // Format and channel count are fixed so that the music can be rendered straight into the
    // buffer; SDL converts if the card wants something else.
    if (Mix_OpenAudioDevice(kRequestedRate, AUDIO_S16SYS, kChannels, kBufferFrames, nullptr,
                            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE) != 0) {
        error_ = Describe("音声出力を開けません", Mix_GetError());
        sdl_.reset();
        return;
    }
    auto mixer = std::make_unique<Mixer>();
    int rate = 0;
    Uint16 format = 0;
    int channels = 0;
    if (Mix_QuerySpec(&rate, &format, &channels) == 0 || rate <= 0) {
        error_ = Describe("音声出力を開けません", Mix_GetError());
        mixer.reset();
        sdl_.reset();
        return;
    }
    Mix_AllocateChannels(kEffectChannels);
    sample_rate_ = rate;
    mixer_ = std::move(mixer);
}

AudioOutput::~AudioOutput() = default;

}  // namespace koma::sound
