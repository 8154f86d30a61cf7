// The completion fanfare "一等賞.wav": a brass-like C major arpeggio up to a held high C.
#pragma once

#include <cstdint>
#include <vector>

namespace koma::fanfare {

inline constexpr int kSampleRate = 44100;
// The loudest sample sits 3 dB below full scale.
inline constexpr double kPeakDecibels = -3.0;

// The fanfare as mono 16-bit samples at kSampleRate.
std::vector<std::int16_t> SynthesiseFanfare();

// A RIFF/WAVE file holding mono 16-bit PCM samples.
std::vector<std::uint8_t> EncodeWav(const std::vector<std::int16_t>& samples, int sample_rate);

// The finished file, byte for byte.
std::vector<std::uint8_t> MakeFanfareWav();

}  // namespace koma::fanfare
