#include "sound/checks/midi_length.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace koma::sound {
namespace {

// The player keeps no more tracks than this; a file with more does not load.
constexpr int kMaxTracks = 128;
constexpr std::size_t kHeaderBytes = 14;

constexpr int kSysEx = 0xF0;
constexpr int kMeta = 0xFF;
constexpr int kText = 0x01;
constexpr int kLyric = 0x05;
constexpr int kEndOfTrack = 0x2F;
constexpr int kSetTempo = 0x51;
constexpr int kSmpteOffset = 0x54;
constexpr int kTimeSignature = 0x58;
constexpr int kKeySignature = 0x59;

// Whether the FluidSynth built against has the 2.4 series' loader, which reads the header's
// format byte unsigned and keeps a channel message's running status across meta and system
// exclusive events (2.3 reads the byte signed and lets those events take the status over).
// Debian 12 has 2.3.1, Debian 13 2.4.4.
constexpr bool kLoader24 = KOMA_FLUIDSYNTH_LOADER_2_4 != 0;

// Reads a file the way FluidSynth's player loads one, keeping only where the events it keeps
// fall in time. Its quirks are kept too (lengths read as signed 32-bit numbers, a running status
// that carries over from one track to the next, the meta events it checks and the ones it
// drops), so that the length agrees with the one the synthesiser plays to.
class PieceReader {
  public:
    explicit PieceReader(std::span<const char> file) : file_(file) {}

    long Length() {
        std::array<std::uint8_t, kHeaderBytes> header{};
        if (!Read(header) || std::memcmp(header.data(), "MThd", 4) != 0 || header[7] != 6 ||
            (header[9] > 2 && (kLoader24 || header[9] < 0x80)) || header[12] >= 0x80) {
            return 0;  // not a MIDI file, a format it does not know, or SMPTE time
        }
        // The player reads the track count as two signed bytes: anything but a small count
        // means no track, or more than it keeps.
        if (header[10] != 0 || header[11] >= 0x80) {
            return 0;
        }
        std::int32_t longest = 0;
        for (int track = 0; track < header[11]; ++track) {
            std::int32_t ticks = 0;
            if (track == kMaxTracks || !Track(ticks)) {
                return 0;
            }
            longest = std::max(longest, ticks);
        }
        return longest;
    }

  private:
    static std::int32_t Signed(std::uint32_t value) { return static_cast<std::int32_t>(value); }

    // The next byte, or -1 past the end.
    int Get() {
        if (pushed_ >= 0) {
            return std::exchange(pushed_, -1);
        }
        if (pos_ >= Size()) {
            eof_ = true;
            return -1;
        }
        ++track_pos_;
        return static_cast<std::uint8_t>(file_[static_cast<std::size_t>(pos_++)]);
    }

    bool Read(std::span<std::uint8_t> out) {
        const auto wanted = static_cast<std::int64_t>(out.size());
        if (Size() - pos_ < wanted) {
            eof_ = true;
            return false;
        }
        std::memcpy(out.data(), file_.subspan(static_cast<std::size_t>(pos_)).data(), out.size());
        pos_ += wanted;
        track_pos_ += wanted;
        return true;
    }

    bool Skip(std::int64_t count) {
        if (pos_ + count < 0) {
            return false;
        }
        pos_ += count;
        eof_ = false;
        return true;
    }

    bool ReadLength(std::int32_t& length) {
        std::array<std::uint8_t, 4> bytes{};
        if (!Read(bytes)) {
            return false;
        }
        length = Signed(std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                        std::uint32_t{bytes[2]} << 8 | bytes[3]);
        return true;
    }

    // A variable-length number of at most four bytes.
    bool ReadVariable(std::int32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const int c = Get();
            if (c < 0) {
                return false;
            }
            if ((c & 0x80) == 0) {
                value += c;
                return true;
            }
            value = (value | (c & 0x7F)) << 7;
        }
        return false;
    }

    // The data of a message, which must be in the file.
    bool Data(std::int32_t count) {
        if (count < 0 || Size() - pos_ < count) {
            eof_ = true;
            return false;
        }
        pos_ += count;
        track_pos_ += count;
        return true;
    }

    // An event the player keeps: it takes the time since the last one kept.
    void Keep() {
        track_ticks_ += static_cast<std::uint32_t>(pending_);
        pending_ = 0;
    }

    bool Event() {
        std::int32_t delta = 0;
        if (!ReadVariable(delta)) {
            return false;
        }
        pending_ = Signed(static_cast<std::uint32_t>(pending_) + static_cast<std::uint32_t>(delta));
        int status = Get();
        if (status < 0) {
            return false;
        }
        if ((status & 0x80) == 0) {
            // A data byte: the running status applies, and the byte is read again as data.
            if ((running_ & 0x80) == 0) {
                return false;
            }
            pushed_ = status;
            status = running_;
        }
        if (!kLoader24 || status < kSysEx) {
            running_ = status;
        }
        if (status == kSysEx) {
            std::int32_t length = 0;
            if (!ReadVariable(length) || !Data(length)) {
                return false;
            }
            if (length != 0) {
                Keep();
            }
            return true;
        }
        if (status == kMeta) {
            const int type = Get();
            std::int32_t length = 0;
            if (type < 0 || !ReadVariable(length) || !Data(length)) {
                return false;
            }
            switch (type) {
                case kText:
                case kLyric:
                    Keep();
                    return true;
                case kEndOfTrack:
                    end_of_track_ = true;
                    Keep();
                    return length == 0;
                case kSetTempo:
                    Keep();
                    return length == 3;
                case kSmpteOffset:
                    return length == 5;
                case kTimeSignature:
                    return length == 4;
                case kKeySignature:
                    return length == 2;
                default:
                    return true;  // dropped: its time goes to the next event kept
            }
        }
        switch (status & 0xF0) {
            case 0xC0:  // program change
            case 0xD0:  // channel pressure
                if (Get() < 0) {
                    return false;
                }
                break;
            case 0x80:
            case 0x90:
            case 0xA0:
            case 0xB0:
            case 0xE0:
                if (Get() < 0 || Get() < 0) {
                    return false;
                }
                break;
            default:
                return false;  // system messages other than the two above
        }
        Keep();
        return true;
    }

    bool Track(std::int32_t& ticks) {
        std::array<std::uint8_t, 4> id{};
        std::int32_t length = 0;
        // The player gives up on any other chunk (or never gets past it).
        if (!Read(id) || std::memcmp(id.data(), "MTrk", 4) != 0 || !ReadLength(length)) {
            return false;
        }
        track_pos_ = 0;
        end_of_track_ = false;
        pending_ = 0;
        track_ticks_ = 0;
        while (!end_of_track_ && track_pos_ < length) {
            if (!Event()) {
                return false;
            }
        }
        // What follows the end of the track within its length is skipped, even past the end of
        // the file, which then shows only when the next track is read.
        if (track_pos_ < length && !Skip(static_cast<std::int64_t>(length) - track_pos_)) {
            return false;
        }
        ticks = Signed(track_ticks_);
        return !eof_;
    }

    std::int64_t Size() const { return static_cast<std::int64_t>(file_.size()); }

    std::span<const char> file_;
    std::int64_t pos_ = 0;
    std::int64_t track_pos_ = 0;  // bytes of the current track read so far
    bool eof_ = false;            // a read went past the end of the file
    int pushed_ = -1;             // a data byte read as a status byte, to be read again
    // The status byte data bytes take. At first none: 2.3 starts with -1, which passes for one
    // and then fails as an unknown message.
    int running_ = kLoader24 ? 0 : -1;
    bool end_of_track_ = false;
    std::int32_t pending_ = 0;       // ticks since the last event kept
    std::uint32_t track_ticks_ = 0;  // the current track's kept events' ticks, summed
};

}  // namespace

long MidiLength(std::span<const char> file) {
    return PieceReader(file).Length();
}

}  // namespace koma::sound
