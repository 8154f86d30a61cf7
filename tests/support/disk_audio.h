// What SDL's disk audio driver wrote (SDL_AUDIODRIVER=disk, SDL_DISKAUDIOFILE=path): raw
// interleaved S16LE stereo at the output's rate, written in real time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace koma::testing {

// Well above rounding noise, well below any real sound.
inline constexpr int kLoudSample = 500;

inline std::vector<std::int16_t> ReadDiskAudio(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto low = static_cast<unsigned char>(bytes[2 * i]);
        const auto high = static_cast<unsigned char>(bytes[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(low | (high << 8));
    }
    return samples;
}

inline bool IsLoud(std::int16_t sample) {
    return std::abs(static_cast<int>(sample)) > kLoudSample;
}

// The loud samples among samples[from, to).
inline std::size_t CountLoud(const std::vector<std::int16_t>& samples, std::size_t from = 0,
                             std::size_t to = SIZE_MAX) {
    const auto begin =
        samples.begin() + static_cast<std::ptrdiff_t>(std::min(from, samples.size()));
    const auto end = samples.begin() + static_cast<std::ptrdiff_t>(std::min(to, samples.size()));
    return static_cast<std::size_t>(std::count_if(begin, end, IsLoud));
}

// The largest magnitude among the samples from `from` on.
inline int PeakFrom(const std::vector<std::int16_t>& samples, std::size_t from) {
    int peak = 0;
    for (std::size_t i = from; i < samples.size(); ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    }
    return peak;
}

}  // namespace koma::testing
