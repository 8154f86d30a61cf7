#include "sound/module/wav_file.h"

#include <algorithm>
#include <cstring>

namespace koma::sound {
namespace {

constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kFloat = 3;
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;
constexpr std::size_t kChunkHeader = 8;
constexpr std::size_t kFormatBytes = 16;
// "RIFF", its size, "WAVE", then the format chunk and the data chunk's header.
constexpr std::size_t kMinimalHeader = 12 + kChunkHeader + kFormatBytes + kChunkHeader;

std::uint32_t Read32(const std::vector<char>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::uint32_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    }
    return value;
}

std::uint16_t Read16(const std::vector<char>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

void Write32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<char>(value >> (8 * i));
    }
}

void Write16(char* at, std::uint16_t value) {
    at[0] = static_cast<char>(value);
    at[1] = static_cast<char>(value >> 8);
}

bool IsId(const std::vector<char>& bytes, std::size_t at, const char (&id)[5]) {
    return std::memcmp(bytes.data() + at, id, 4) == 0;
}

// The format chunk's first 16 bytes, if they describe a sound the game plays.
std::optional<WavSound> ReadFormat(const std::vector<char>& bytes, std::size_t at) {
    const std::uint16_t tag = Read16(bytes, at);
    const std::uint16_t channels = Read16(bytes, at + 2);
    const std::uint32_t rate = Read32(bytes, at + 4);
    const std::uint16_t block = Read16(bytes, at + 12);
    const std::uint16_t bits = Read16(bytes, at + 14);
    const bool pcm = tag == kPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool real = tag == kFloat && bits == 32;
    if ((!pcm && !real) || (channels != 1 && channels != 2) || rate < kMinRate || rate > kMaxRate ||
        block != channels * bits / 8) {
        return std::nullopt;
    }
    WavSound sound;
    sound.is_float = real;
    sound.channels = channels;
    sound.rate = static_cast<int>(rate);
    sound.bits = bits;
    return sound;
}

}  // namespace

std::uint64_t WavSound::DecodedBytes() const {
    const int bytes_per_sample = bits == 24 ? 4 : bits / 8;
    return frames * static_cast<std::uint64_t>(channels * bytes_per_sample);
}

std::optional<SaneWav> FindSaneWav(std::vector<char>& bytes) {
    if (bytes.size() < kMinimalHeader || !IsId(bytes, 0, "RIFF") || !IsId(bytes, 8, "WAVE")) {
        return std::nullopt;
    }
    // Streaming writers leave the RIFF size at 0 or 0xFFFFFFFF: the file's end is what counts.
    const std::uint64_t end =
        std::min<std::uint64_t>(bytes.size(), 8 + std::uint64_t{Read32(bytes, 4)});
    std::optional<WavSound> sound;
    for (std::uint64_t at = 12; at + kChunkHeader <= end;) {
        const std::uint64_t size = Read32(bytes, static_cast<std::size_t>(at + 4));
        const std::uint64_t payload = at + kChunkHeader;
        const bool whole = payload + size <= end;
        if (IsId(bytes, static_cast<std::size_t>(at), "fmt ")) {
            if (!whole || size < kFormatBytes || sound) {
                return std::nullopt;
            }
            sound = ReadFormat(bytes, static_cast<std::size_t>(payload));
            if (!sound) {
                return std::nullopt;
            }
        } else if (IsId(bytes, static_cast<std::size_t>(at), "data")) {
            // A data chunk cut short is a damaged file, not a shorter sound.
            if (!whole || !sound) {
                return std::nullopt;
            }
            const auto block = static_cast<std::uint32_t>(sound->channels * sound->bits / 8);
            sound->frames = size / block;
            if (sound->frames == 0) {
                return std::nullopt;
            }
            // The format chunk before the data leaves room for the minimal header there.
            char* const start = bytes.data() + payload - kMinimalHeader;
            const auto data_bytes = static_cast<std::uint32_t>(sound->frames * block);
            std::memcpy(start, "RIFF", 4);
            Write32(start + 4, static_cast<std::uint32_t>(kMinimalHeader - 8) + data_bytes);
            std::memcpy(start + 8, "WAVEfmt ", 8);
            Write32(start + 16, kFormatBytes);
            Write16(start + 20, sound->is_float ? kFloat : kPcm);
            Write16(start + 22, static_cast<std::uint16_t>(sound->channels));
            Write32(start + 24, static_cast<std::uint32_t>(sound->rate));
            Write32(start + 28, static_cast<std::uint32_t>(sound->rate) * block);
            Write16(start + 32, static_cast<std::uint16_t>(block));
            Write16(start + 34, static_cast<std::uint16_t>(sound->bits));
            std::memcpy(start + 36, "data", 4);
            Write32(start + 40, data_bytes);
            return SaneWav{*sound, {start, kMinimalHeader + data_bytes}};
        }
        at = payload + size + (size & 1);  // chunks are padded to even sizes
    }
    return std::nullopt;
}

}  // namespace koma::sound
