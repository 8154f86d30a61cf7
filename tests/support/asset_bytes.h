// Test helpers for the asset generators: reading a committed file, and a cursor over its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace koma::tools {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path.string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A cursor over big- or little-endian bytes that refuses to run past the end.
class Reader {
  public:
    Reader(const Bytes& bytes, std::size_t begin, std::size_t end)
        : bytes_(bytes), pos_(begin), end_(end) {}

    bool AtEnd() const { return pos_ == end_; }
    std::size_t Position() const { return pos_; }

    std::uint8_t Byte() {
        if (pos_ >= end_) {
            throw std::runtime_error("read past the end of a chunk");
        }
        return bytes_[pos_++];
    }
    std::uint8_t PeekByte() const {
        if (pos_ >= end_) {
            throw std::runtime_error("read past the end of a chunk");
        }
        return bytes_[pos_];
    }
    std::uint32_t BigEndian(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value = (value << 8) | Byte();
        }
        return value;
    }
    std::uint32_t LittleEndian(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        }
        return value;
    }
    std::string Tag() {
        std::string tag;
        for (int i = 0; i < 4; ++i) {
            tag.push_back(static_cast<char>(Byte()));
        }
        return tag;
    }
    // At most four bytes, as the SMF format allows.
    std::uint32_t VariableLength() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t byte = Byte();
            value = (value << 7) | (byte & 0x7FU);
            if ((byte & 0x80U) == 0) {
                return value;
            }
        }
        throw std::runtime_error("variable-length quantity longer than four bytes");
    }
    void Skip(std::size_t count) {
        if (count > end_ - pos_) {
            throw std::runtime_error("data runs past the end of a chunk");
        }
        pos_ += count;
    }

  private:
    const Bytes& bytes_;
    std::size_t pos_;
    std::size_t end_;
};

}  // namespace koma::tools
