// Small sound files written by the tests themselves, and a place to put them.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "sound/music_device.h"
#include "tools/fanfare/fanfare.h"
#include "tools/tune/midi_file.h"
#include "tools/tune/tune.h"

namespace koma::sound::testing {

using Bytes = std::vector<unsigned char>;

inline constexpr int kTicksPerQuarter = tune::kTicksPerQuarter;  // 120 bpm: 960 ticks a second

// A piano note lasting the whole piece: `ticks` long (480 ticks = 0.5 s).
inline Bytes OneNoteMidi(std::uint32_t ticks = kTicksPerQuarter) {
    tune::MidiTrack track;
    track.AddProgram(0, 0, 0);
    track.AddNote(0, ticks, 0, 60, 100);
    return tune::EncodeMidiFile({track}, kTicksPerQuarter, ticks);
}

// A valid header and a track holding nothing but its end: a piece of length 0.
inline Bytes EmptyPieceMidi() {
    return tune::EncodeMidiFile({tune::MidiTrack()}, kTicksPerQuarter, 0);
}

// About `seconds` of melody, chords, bass and drums, as busy as a game's background tune.
inline Bytes BusyMidi(int seconds) {
    const std::uint32_t eighth = kTicksPerQuarter / 2;
    const std::uint32_t end = static_cast<std::uint32_t>(seconds) * 2 * kTicksPerQuarter;
    const int scale[] = {60, 62, 64, 65, 67, 69, 71, 72};
    std::vector<tune::MidiTrack> tracks(4);
    tracks[0].AddProgram(0, 0, 73);
    tracks[1].AddProgram(0, 1, 0);
    tracks[2].AddProgram(0, 2, 33);
    for (std::uint32_t t = 0, i = 0; t + eighth <= end; t += eighth, ++i) {
        tracks[0].AddNote(t, eighth, 0, scale[(i * 3) % 8], 90);
        tracks[3].AddNote(t, eighth, 9, i % 2 == 0 ? 36 : 42, 100);
        if (i % 8 == 0) {
            const std::uint32_t bar = std::min(8 * eighth, end - t);
            for (const int chord_note : {48, 52, 55}) {
                tracks[1].AddNote(t, bar, 1, chord_note, 70);
            }
            tracks[2].AddNote(t, bar, 2, 36, 100);
        }
    }
    return tune::EncodeMidiFile(tracks, kTicksPerQuarter, end);
}

// A mono 16-bit WAV file: a tone of `seconds` at half of full scale.
inline Bytes ToneWav(double seconds = 0.3) {
    constexpr int kRate = 22050;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(
            16000.0 * std::sin(2.0 * std::numbers::pi * 880.0 * static_cast<double>(i) / kRate));
    }
    return fanfare::EncodeWav(samples, kRate);
}

// A RIFF/WAVE file as any writer may make it: the header says what the fields say, whatever the
// data holds. Unset sizes are the true ones.
struct WavFields {
    std::uint16_t tag = 1;  // PCM
    std::uint16_t channels = 1;
    std::uint32_t rate = 22050;
    std::uint16_t bits = 16;
    std::uint32_t data_bytes = 8820;  // written: a square wave
    std::optional<std::uint32_t> riff_size;
    std::optional<std::uint32_t> fmt_size;
    std::optional<std::uint32_t> data_size;
};

inline Bytes WavFile(const WavFields& wav) {
    Bytes file;
    const auto put = [&file](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            file.push_back(static_cast<unsigned char>(value >> (8 * i)));
        }
    };
    const auto tag = [&put](const char(&name)[5]) {
        put(static_cast<std::uint32_t>(name[0] | name[1] << 8 | name[2] << 16 | name[3] << 24), 4);
    };
    const std::uint32_t block = std::uint32_t{wav.channels} * wav.bits / 8;
    tag("RIFF");
    put(wav.riff_size.value_or(36 + wav.data_bytes), 4);
    tag("WAVE");
    tag("fmt ");
    put(wav.fmt_size.value_or(16), 4);
    put(wav.tag, 2);
    put(wav.channels, 2);
    put(wav.rate, 4);
    put(wav.rate * block, 4);
    put(block, 2);
    put(wav.bits, 2);
    tag("data");
    put(wav.data_size.value_or(wav.data_bytes), 4);
    for (std::uint32_t i = 0; i < wav.data_bytes; ++i) {
        file.push_back(i / 32 % 2 == 0 ? 0x30 : 0xD0);
    }
    return file;
}

// A fresh folder for one test's files, removed with everything in it afterwards.
class TempDir {
  public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("koma_sound_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    std::string Write(const std::string& name, const Bytes& bytes) const {
        const std::string file = Path(name);
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return file;
    }
    std::string Path(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Collects notifications from any thread and lets the test wait for them.
class NotifyRecorder {
  public:
    MusicDevice::NotifyHandler Handler() {
        return [this](NotifyKind kind) {
            const std::lock_guard lock(mutex_);
            kinds_.push_back(kind);
            changed_.notify_all();
        };
    }

    // True once `count` notifications have arrived, false after `timeout` without.
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return kinds_.size() >= count; });
    }

    std::vector<NotifyKind> Kinds() const {
        const std::lock_guard lock(mutex_);
        return kinds_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<NotifyKind> kinds_;
};

}  // namespace koma::sound::testing
