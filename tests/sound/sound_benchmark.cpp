// Costs of the music: opening, playing, idling, and the pause between two passes of the loop.
// Real time under SDL's dummy and disk drivers; KOMA_BENCH_MIDI names the piece to play
// (default: the game's own koma.mid, else a generated 40 s piece).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/audio_output.h"
#include "sound/media_player.h"
#include "sound/synth_music_device.h"
#include "sound_files.h"
#include "support/disk_audio.h"

namespace koma::sound {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string PieceFile(const TempDir& dir) {
    if (const char* chosen = std::getenv("KOMA_BENCH_MIDI"); chosen != nullptr) {
        return chosen;
    }
    if (std::filesystem::exists(KOMA_ASSET_MIDI)) {
        return KOMA_ASSET_MIDI;
    }
    return dir.Write("koma.mid", testing::BusyMidi(40));
}

void UseDriver(const char* driver) {
    setenv("SDL_AUDIODRIVER", driver, 1);
}

// Sends the output to the disk driver's file `name` in `dir`, whose path it returns.
std::string UseDiskFile(const TempDir& dir, const std::string& name) {
    std::string raw = dir.Path(name);
    UseDriver("disk");
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    return raw;
}

void BM_Open(benchmark::State& state) {
    UseDriver("dummy");
    const TempDir dir;
    const std::string piece = PieceFile(dir);
    AudioOutput output;
    for (auto _ : state) {
        const auto device = MakeSynthMusicDevice(output);
        device->Open(piece, nullptr);
        benchmark::DoNotOptimize(device->Length());
    }
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->Iterations(10);

// Share of one core used by the whole process over `seconds` of wall time.
void MeasureCpu(benchmark::State& state, bool playing, std::chrono::seconds seconds) {
    UseDriver("dummy");
    const TempDir dir;
    const std::string piece = PieceFile(dir);
    AudioOutput output;
    const auto device = MakeSynthMusicDevice(output);
    device->Open(piece, nullptr);
    if (!playing) {
        std::this_thread::sleep_for(3s);  // past the first seconds, which render a silent tail
    }
    for (auto _ : state) {
        const double cpu_before = ProcessCpuSeconds();
        const auto wall_before = std::chrono::steady_clock::now();
        if (playing) {
            device->Play();
        }
        std::this_thread::sleep_for(seconds);
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wall_before;
        state.counters["cpu_percent"] = 100.0 * (ProcessCpuSeconds() - cpu_before) / wall.count();
        device->Stop();
    }
    state.counters["length_ticks"] = static_cast<double>(device->Length());
}

void BM_CpuWhilePlaying(benchmark::State& state) {
    MeasureCpu(state, true, 10s);
}
BENCHMARK(BM_CpuWhilePlaying)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_CpuWhileOpenAndIdle(benchmark::State& state) {
    MeasureCpu(state, false, 5s);
}
BENCHMARK(BM_CpuWhileOpenAndIdle)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// From the click on sound on to the first audible sample, as the window does it: the output,
// the synthesiser and the sound font are all made on that click. Written through the disk
// driver, whose file starts when the output opens and then runs in real time.
void BM_FirstPlayLatency(benchmark::State& state) {
    const TempDir dir;
    const std::string raw = UseDiskFile(dir, "first.raw");
    const std::string piece = PieceFile(dir);
    double open_ms = 0.0;
    double load_ms = 0.0;
    int rate = 0;
    for (auto _ : state) {
        AudioOutput output;
        MediaPlayer player(piece, [&output] { return MakeSynthMusicDevice(output); });
        player.Open();  // at start-up
        const auto click = std::chrono::steady_clock::now();
        output.Open();
        const auto opened = std::chrono::steady_clock::now();
        player.Rewind();
        player.Play();
        const auto playing = std::chrono::steady_clock::now();
        rate = output.SampleRate();
        std::this_thread::sleep_for(1s);
        open_ms = std::chrono::duration<double, std::milli>(opened - click).count();
        load_ms = std::chrono::duration<double, std::milli>(playing - click).count();
    }
    const std::vector<std::int16_t> samples = koma::testing::ReadDiskAudio(raw);
    const auto first = std::find_if(samples.begin(), samples.end(), koma::testing::IsLoud);
    const auto frame = static_cast<double>(first - samples.begin()) / AudioOutput::kChannels;
    state.counters["load_ms"] = load_ms;
    state.counters["audible_ms"] = open_ms + 1000.0 * frame / rate;
}
BENCHMARK(BM_FirstPlayLatency)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The loop as the window runs it: each notification makes the main thread play again. A one
// second piece whose note stops at half time is written through the disk driver; the distance
// between the notes' onsets, less the piece's second, is the pause the loop adds.
void BM_LoopGap(benchmark::State& state) {
    const TempDir dir;
    const std::string raw = UseDiskFile(dir, "loop.raw");
    tune::MidiTrack track;
    track.AddProgram(0, 0, 0);
    track.AddNote(0, 480, 0, 72, 110);
    const std::string piece =
        dir.Write("loop.mid", tune::EncodeMidiFile({track}, testing::kTicksPerQuarter, 960));
    constexpr int kPasses = 5;
    int rate = 0;
    for (auto _ : state) {
        AudioOutput output;
        rate = output.SampleRate();
        std::mutex mutex;
        std::condition_variable changed;
        int ended = 0;
        MediaPlayer player(piece, [&output] { return MakeSynthMusicDevice(output); });
        player.SetNotifyHandler([&](NotifyKind) {
            const std::lock_guard lock(mutex);
            ++ended;
            changed.notify_all();
        });
        player.Open();
        player.Rewind();
        player.Play();
        std::unique_lock lock(mutex);
        for (int seen = 1; seen <= kPasses; ++seen) {
            changed.wait(lock, [&] { return ended >= seen; });
            if (seen < kPasses) {
                player.Play();
            }
        }
    }
    const std::vector<std::int16_t> samples = koma::testing::ReadDiskAudio(raw);
    std::vector<double> onsets;  // seconds
    const std::size_t frames = samples.size() / 2;
    std::size_t quiet = frames;  // frames since the last loud one
    for (std::size_t frame = 0; frame < frames; ++frame) {
        if (koma::testing::IsLoud(samples[2 * frame])) {
            if (quiet > static_cast<std::size_t>(rate / 20)) {
                onsets.push_back(static_cast<double>(frame) / rate);
            }
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    double total = 0.0;
    double worst = 0.0;
    for (std::size_t i = 1; i < onsets.size(); ++i) {
        const double gap = onsets[i] - onsets[i - 1] - 1.0;
        total += gap;
        worst = std::max(worst, gap);
    }
    state.counters["passes_heard"] = static_cast<double>(onsets.size());
    if (onsets.size() > 1) {
        state.counters["gap_ms_mean"] = 1000.0 * total / static_cast<double>(onsets.size() - 1);
        state.counters["gap_ms_max"] = 1000.0 * worst;
    }
}
BENCHMARK(BM_LoopGap)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
}  // namespace koma::sound
