// The one kind of WAV file the mixer is given: plain PCM or float, mono or stereo, at a rate a
// sound card knows. Whatever else a file holds is left out before the mixer sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace koma::sound {

struct WavSound {
    bool is_float = false;  // IEEE float samples; else integer PCM (8 bit unsigned, else signed)
    int channels = 0;       // 1 or 2
    int rate = 0;           // frames per second
    int bits = 0;           // per sample: 8, 16, 24 or 32 (float: 32)
    std::uint64_t frames = 0;

    // How much SDL's WAV loader makes of it (it widens 24-bit samples to 32).
    std::uint64_t DecodedBytes() const;
};

// A sound found in a whole WAV file, and a minimal RIFF/WAVE file of exactly that sound: a
// 16-byte format chunk and whole frames of data. `file` lies inside the buffer it was found in.
struct SaneWav {
    WavSound sound;
    std::span<const char> file;
};

// Looks at `bytes` (a whole file) and returns its sound, or nothing when it is not a RIFF/WAVE
// file of a kind above with its format chunk before its data and both inside the file. Rewrites
// `bytes` just before the sound's data to make the minimal file.
std::optional<SaneWav> FindSaneWav(std::vector<char>& bytes);

}  // namespace koma::sound
