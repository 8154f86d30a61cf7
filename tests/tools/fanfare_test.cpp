// The completion fanfare: the generator writes a short, unclipped WAV file, and the file
// committed in assets/ is exactly what it writes today.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/asset_bytes.h"
#include "tools/fanfare/fanfare.h"

namespace {

using koma::tools::Bytes;
using koma::tools::Reader;
using koma::tools::ReadFile;

struct WavInfo {
    int channels = 0;
    int sample_rate = 0;
    int bits = 0;
    std::vector<std::int16_t> samples;
};

// A PCM RIFF/WAVE file: the chunk sizes must agree with the file's length.
WavInfo ParseWav(const Bytes& bytes) {
    Reader file(bytes, 0, bytes.size());
    if (file.Tag() != "RIFF" || file.LittleEndian(4) != bytes.size() - 8 || file.Tag() != "WAVE") {
        throw std::runtime_error("not a RIFF/WAVE file of the stated size");
    }
    WavInfo wav;
    bool have_format = false;
    while (!file.AtEnd()) {
        const std::string tag = file.Tag();
        const std::uint32_t size = file.LittleEndian(4);
        if (tag == "fmt ") {
            if (size < 16 || file.LittleEndian(2) != 1) {
                throw std::runtime_error("not PCM");
            }
            wav.channels = static_cast<int>(file.LittleEndian(2));
            wav.sample_rate = static_cast<int>(file.LittleEndian(4));
            const std::uint32_t byte_rate = file.LittleEndian(4);
            const std::uint32_t block_align = file.LittleEndian(2);
            wav.bits = static_cast<int>(file.LittleEndian(2));
            if (block_align != static_cast<std::uint32_t>(wav.channels * wav.bits / 8) ||
                byte_rate != block_align * static_cast<std::uint32_t>(wav.sample_rate)) {
                throw std::runtime_error("inconsistent format block");
            }
            file.Skip(size - 16);
            have_format = true;
        } else if (tag == "data") {
            if (!have_format || wav.bits != 16 || size % 2 != 0) {
                throw std::runtime_error("data before format, or not 16-bit");
            }
            for (std::uint32_t i = 0; i < size / 2; ++i) {
                wav.samples.push_back(static_cast<std::int16_t>(file.LittleEndian(2)));
            }
        } else {
            file.Skip(size + size % 2);
        }
    }
    return wav;
}

TEST(Fanfare, IsAShortUnclipped16BitWav) {
    const WavInfo wav = ParseWav(koma::fanfare::MakeFanfareWav());
    EXPECT_EQ(wav.sample_rate, 44100);
    EXPECT_EQ(wav.bits, 16);
    ASSERT_TRUE(wav.channels == 1 || wav.channels == 2);
    const double seconds = static_cast<double>(wav.samples.size()) / wav.channels / wav.sample_rate;
    EXPECT_GE(seconds, 1.0);
    EXPECT_LE(seconds, 3.0);

    int peak = 0;
    for (const std::int16_t s : wav.samples) {
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    EXPECT_LT(peak, 32767) << "clipped";
    EXPECT_GT(peak, 32767 / 2) << "too quiet to celebrate";
    // It starts from silence and fades out to it: no click either end.
    EXPECT_LT(std::abs(static_cast<int>(wav.samples.front())), 100);
    EXPECT_LT(std::abs(static_cast<int>(wav.samples.back())), 100);
}

TEST(CommittedSounds, FanfareWavIsWhatTheGeneratorWrites) {
    EXPECT_EQ(koma::fanfare::MakeFanfareWav(), koma::fanfare::MakeFanfareWav());
    EXPECT_TRUE(ReadFile(std::filesystem::path{KOMA_ASSETS_DIR} /
                         std::filesystem::path(u8"一等賞.wav")) == koma::fanfare::MakeFanfareWav())
        << "assets/一等賞.wav is out of date: build the target koma_regenerate_fanfare";
}

}  // namespace
