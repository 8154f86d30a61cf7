// A short sound played over whatever else is playing, such as the completion sound.
#pragma once

#include <memory>
#include <string>

#include "sound/module/audio_output.h"

namespace koma::sound {

class SoundEffect {
  public:
    // The output must outlive this object.
    explicit SoundEffect(AudioOutput& output);
    SoundEffect(const SoundEffect&) = delete;
    SoundEffect& operator=(const SoundEffect&) = delete;
    // Ends any sound of this object still playing; what it converted is let go on the output's
    // thread.
    ~SoundEffect();

    // Has the output's thread open the output if needed and start playing the WAV file (UTF-8
    // name) as it is then. Returns once it has started, or after a second at most; at once
    // while the output's server does not answer. A sound that cannot start within a second of
    // the call is left out.
    // Only a plain file holding a RIFF/WAVE sound of PCM or float samples, mono or stereo at
    // 8 to 192 kHz, that converts for the output within a few MB, plays; anything else, or no
    // output, plays nothing and reports nothing.
    void Play(const std::string& path);

  private:
    class Chunks;  // what was read and converted, used on the output's thread alone

    AudioOutput& output_;
    std::shared_ptr<Chunks> chunks_;
};

}  // namespace koma::sound
