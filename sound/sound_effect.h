// A short sound played over whatever else is playing, such as the completion sound.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "sound/audio_output.h"
#include "sound/plain_file.h"

struct Mix_Chunk;

namespace koma::sound {

class SoundEffect {
  public:
    // The output must outlive this object.
    explicit SoundEffect(AudioOutput& output);
    SoundEffect(const SoundEffect&) = delete;
    SoundEffect& operator=(const SoundEffect&) = delete;
    // Ends any sound of this object still playing.
    ~SoundEffect();

    // Opens the output if needed, starts playing the WAV file (UTF-8 name) as it is now and
    // returns at once.
    // Only a plain file holding a RIFF/WAVE sound of PCM or float samples, mono or stereo at
    // 8 to 192 kHz, that converts for the output within a few MB, plays; anything else, or no
    // output, plays nothing and reports nothing.
    void Play(const std::string& path);

  private:
    struct ChunkDeleter {
        void operator()(Mix_Chunk* chunk) const;
    };
    using ChunkPtr = std::unique_ptr<Mix_Chunk, ChunkDeleter>;
    struct Loaded {
        FileStamp file;  // what was read
        ChunkPtr chunk;
    };

    Mix_Chunk* Load(const std::string& path);

    AudioOutput& output_;
    int openings_ = 0;  // the output's opening the chunks were converted for
    // Kept while the output stays open and the file unchanged: a chunk must stay alive while a
    // channel plays it.
    std::map<std::string, Loaded> chunks_;
};

}  // namespace koma::sound
