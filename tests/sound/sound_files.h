// Small sound files written by the tests themselves, and a place to put them.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "sound/music_device.h"

namespace koma::sound::testing {

using Bytes = std::vector<unsigned char>;

inline constexpr int kTicksPerQuarter = 480;  // at the default 120 bpm: 960 ticks a second

inline void AppendVarLen(Bytes& out, std::uint32_t value) {
    Bytes reversed{static_cast<unsigned char>(value & 0x7F)};
    while ((value >>= 7) != 0) {
        reversed.push_back(static_cast<unsigned char>((value & 0x7F) | 0x80));
    }
    out.insert(out.end(), reversed.rbegin(), reversed.rend());
}

inline void AppendBigEndian(Bytes& out, std::uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xFF));
    }
}

// One MIDI event at an absolute tick, for building tracks.
struct MidiEvent {
    std::uint32_t tick;
    Bytes data;
};

// A track chunk from events sorted by tick; adds the end-of-track event at `end_tick`.
inline Bytes MidiTrack(const std::vector<MidiEvent>& events, std::uint32_t end_tick) {
    Bytes body;
    std::uint32_t now = 0;
    for (const MidiEvent& event : events) {
        AppendVarLen(body, event.tick - now);
        now = event.tick;
        body.insert(body.end(), event.data.begin(), event.data.end());
    }
    AppendVarLen(body, end_tick - now);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    Bytes track{'M', 'T', 'r', 'k'};
    AppendBigEndian(track, static_cast<std::uint32_t>(body.size()), 4);
    track.insert(track.end(), body.begin(), body.end());
    return track;
}

inline Bytes MidiFile(const std::vector<Bytes>& tracks) {
    Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    AppendBigEndian(file, tracks.size() == 1 ? 0 : 1, 2);
    AppendBigEndian(file, static_cast<std::uint32_t>(tracks.size()), 2);
    AppendBigEndian(file, kTicksPerQuarter, 2);
    for (const Bytes& track : tracks) {
        file.insert(file.end(), track.begin(), track.end());
    }
    return file;
}

// A piano note lasting the whole piece: `ticks` long (480 ticks = 0.5 s).
inline Bytes OneNoteMidi(std::uint32_t ticks = kTicksPerQuarter) {
    return MidiFile(
        {MidiTrack({{0, {0xC0, 0x00}}, {0, {0x90, 60, 100}}, {ticks, {0x80, 60, 64}}}, ticks)});
}

// A valid header and a track holding nothing but its end: a piece of length 0.
inline Bytes EmptyPieceMidi() {
    return MidiFile({MidiTrack({}, 0)});
}

// About `seconds` of melody, chords, bass and drums, as busy as a game's background tune.
inline Bytes BusyMidi(int seconds) {
    const std::uint32_t eighth = kTicksPerQuarter / 2;
    const std::uint32_t end = static_cast<std::uint32_t>(seconds) * 2 * kTicksPerQuarter;
    const unsigned char scale[] = {60, 62, 64, 65, 67, 69, 71, 72};
    std::vector<MidiEvent> melody{{0, {0xC0, 73}}}, chords{{0, {0xC1, 0}}}, bass{{0, {0xC2, 33}}},
        drums;
    for (std::uint32_t t = 0, i = 0; t + eighth <= end; t += eighth, ++i) {
        const unsigned char note = scale[(i * 3) % 8];
        melody.push_back({t, {0x90, note, 90}});
        melody.push_back({t + eighth, {0x80, note, 64}});
        drums.push_back({t, {0x99, static_cast<unsigned char>(i % 2 == 0 ? 36 : 42), 100}});
        drums.push_back({t + eighth, {0x89, static_cast<unsigned char>(i % 2 == 0 ? 36 : 42), 0}});
        if (i % 8 == 0) {
            const std::uint32_t bar = std::min(t + 8 * eighth, end);
            const unsigned char chord[] = {48, 52, 55};
            for (const unsigned char chord_note : chord) {
                chords.push_back({t, {0x91, chord_note, 70}});
            }
            for (const unsigned char chord_note : chord) {
                chords.push_back({bar, {0x81, chord_note, 64}});
            }
            bass.push_back({t, {0x92, 36, 100}});
            bass.push_back({bar, {0x82, 36, 64}});
        }
    }
    return MidiFile({MidiTrack(melody, end), MidiTrack(chords, end), MidiTrack(bass, end),
                     MidiTrack(drums, end)});
}

// A mono 16-bit WAV file: a tone of `seconds` at half of full scale.
inline Bytes ToneWav(double seconds = 0.3) {
    constexpr std::uint32_t kRate = 22050;
    const auto frames = static_cast<std::uint32_t>(seconds * kRate);
    auto little = [](Bytes& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<unsigned char>((value >> (8 * i)) & 0xFF));
        }
    };
    Bytes wav{'R', 'I', 'F', 'F'};
    little(wav, 36 + frames * 2, 4);
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    little(wav, 16, 4);
    little(wav, 1, 2);  // PCM
    little(wav, 1, 2);  // mono
    little(wav, kRate, 4);
    little(wav, kRate * 2, 4);
    little(wav, 2, 2);
    little(wav, 16, 2);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    little(wav, frames * 2, 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double sample = 16000.0 * std::sin(2.0 * 3.14159265 * 880.0 * i / kRate);
        little(wav, static_cast<std::uint32_t>(static_cast<std::int16_t>(sample)), 2);
    }
    return wav;
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
