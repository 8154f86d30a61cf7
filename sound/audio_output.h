// The sound card as the program sees it: SDL's audio and SDL2_mixer's output, open while alive.
#pragma once

#include <memory>
#include <string>

namespace koma::sound {

class AudioOutput {
  public:
    // Opens the output (44.1 kHz, stereo, 16 bit). Never throws: check IsOpen() and Error().
    AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;
    // Closes the output, which silences everything still playing through it.
    ~AudioOutput();

    bool IsOpen() const { return mixer_ != nullptr; }
    // Why the output could not be opened, for the player; empty when open.
    const std::string& Error() const { return error_; }
    // Frames per second of the opened output; 0 when closed.
    int SampleRate() const { return sample_rate_; }

    static constexpr int kChannels = 2;  // everything rendered for it is interleaved stereo

  private:
    struct SdlAudio;
    struct Mixer;

    std::unique_ptr<SdlAudio> sdl_;  // declared first so that it is released last
    std::unique_ptr<Mixer> mixer_;
    std::string error_;
    int sample_rate_ = 0;
};

}  // namespace koma::sound
