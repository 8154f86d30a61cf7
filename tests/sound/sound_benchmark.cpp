// Costs of the music: opening, playing, idling, and the pause between two passes of the loop,
// through the sound module as the game plays. Real time under SDL's dummy and disk drivers;
// KOMA_BENCH_MIDI names the piece to play (default: the game's own koma.mid, else a generated
// 40 s piece).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/game/media_player.h"
#include "sound/game/sound_module.h"
#include "sound_files.h"
#include "support/disk_audio.h"

namespace koma::sound {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

// What the disk driver writes: the rate and channels the output asks for.
constexpr int kDiskRate = 44100;
constexpr int kDiskChannels = 2;

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

MediaPlayer::DeviceFactory ModuleMusic(SoundModule& module) {
    return [&module] { return MakeModuleMusicDevice(module, {}); };
}

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

// The moment the first file appears in a folder, watched from now on: the disk driver makes
// its file when the output opens.
class FileAppears {
  public:
    explicit FileAppears(const std::string& folder) : watch_(inotify_init1(IN_CLOEXEC)) {
        inotify_add_watch(watch_, folder.c_str(), IN_CREATE);
        waiter_ = std::thread([this] {
            pollfd ready{watch_, POLLIN, 0};
            if (poll(&ready, 1, 10000) == 1) {
                at_ = Clock::now();
            }
        });
    }
    FileAppears(const FileAppears&) = delete;
    FileAppears& operator=(const FileAppears&) = delete;
    ~FileAppears() {
        if (waiter_.joinable()) {
            waiter_.join();
        }
        close(watch_);
    }

    Clock::time_point When() {
        waiter_.join();
        return at_;
    }

  private:
    int watch_;
    Clock::time_point at_{};
    std::thread waiter_;
};

// From the click on sound on to the first audible sample, as the window does it: the sound
// module is loaded, and the output, the synthesiser and the sound font are made, on that click.
// First of all the benchmarks, so that no sound library is loaded yet. Written through the
// disk driver, whose file starts when the output opens and then runs in real time.
void BM_FirstPlayLatency(benchmark::State& state) {
    const TempDir dir;
    const std::string raw = UseDiskFile(dir, "first.raw");
    const std::string piece = PieceFile(dir);
    double module_ms = 0.0;
    double open_ms = 0.0;
    double load_ms = 0.0;
    for (auto _ : state) {
        SoundModule module(KOMA_SOUND_MODULE);
        MediaPlayer player(piece, ModuleMusic(module));
        player.Open();  // at start-up
        FileAppears output_opened(dir.Path(""));
        const auto click = Clock::now();
        module.Load();  // what the first Rewind does first
        const auto loaded = Clock::now();
        player.Rewind();
        player.Play();
        const auto playing = Clock::now();
        std::this_thread::sleep_for(1s);
        module_ms = Milliseconds(loaded - click);
        open_ms = Milliseconds(output_opened.When() - click);
        load_ms = Milliseconds(playing - click);
    }
    const std::vector<std::int16_t> samples = koma::testing::ReadDiskAudio(raw);
    const auto first = std::find_if(samples.begin(), samples.end(), koma::testing::IsLoud);
    const auto frame = static_cast<double>(first - samples.begin()) / kDiskChannels;
    state.counters["module_ms"] = module_ms;
    state.counters["load_ms"] = load_ms;
    state.counters["audible_ms"] = open_ms + 1000.0 * frame / kDiskRate;
}
BENCHMARK(BM_FirstPlayLatency)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_Open(benchmark::State& state) {
    UseDriver("dummy");
    const TempDir dir;
    const std::string piece = PieceFile(dir);
    SoundModule module(KOMA_SOUND_MODULE);
    for (auto _ : state) {
        const auto device = MakeModuleMusicDevice(module, {});
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
    SoundModule module(KOMA_SOUND_MODULE);
    const auto device = MakeModuleMusicDevice(module, {});
    device->Open(piece, nullptr);
    if (playing) {
        device->Prepare();  // what sound on makes once: the module, the output, the synthesiser
    } else {
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
    constexpr int rate = kDiskRate;
    for (auto _ : state) {
        SoundModule module(KOMA_SOUND_MODULE);
        std::mutex mutex;
        std::condition_variable changed;
        int ended = 0;
        MediaPlayer player(piece, ModuleMusic(module));
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
