#include "sound/module/synth_parts.h"

#include <omp.h>

#include <array>
#include <cstdint>
#include <mutex>

#include "sound/checks/memory_room.h"
#include "sound/checks/music_file.h"
#include "sound/checks/plain_file.h"
#include "sound/module/audio_output.h"
#include "sound/module/synth_music_device.h"
#include "sound/music_device.h"

namespace koma::sound {
namespace {

constexpr double kGain = 0.8;  // FluidSynth's own 0.2 is too quiet next to the effect
// The tune needs a few dozen voices at once; FluidSynth's default of 256 costs memory for nothing.
constexpr int kPolyphony = 64;

// Room asked for before FluidSynth starts work (see HasRoomFor): a synthesiser and its player,
// and for a sound font, its samples whole and the presets around them, with margin.
constexpr std::size_t kSynthRoom = 8 * kMiB;
constexpr std::size_t kSoundfontRoomPerByte = 3;

// Collects FluidSynth's error messages while alive, so that a failure can say what went wrong.
// FluidSynth's logging is process-wide: use this only while no synth of ours is rendering. The
// previous log functions are put back afterwards.
class LogCapture {
  public:
    LogCapture() {
        for (std::size_t i = 0; i < previous_.size(); ++i) {
            previous_.at(i) = fluid_set_log_function(static_cast<int>(i), &Collect, this);
        }
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    ~LogCapture() {
        for (std::size_t i = 0; i < previous_.size(); ++i) {
            fluid_set_log_function(static_cast<int>(i), previous_.at(i), nullptr);
        }
    }

    // The collected errors, or `fallback` when there were none.
    std::string Errors(const std::string& fallback) const {
        const std::lock_guard lock(mutex_);
        return errors_.empty() ? fallback : errors_;
    }

  private:
    static void Collect(int level, const char* message, void* data) {
        if (data == nullptr || message == nullptr || level > FLUID_ERR) {
            return;
        }
        auto* const self = static_cast<LogCapture*>(data);
        const std::lock_guard lock(self->mutex_);
        if (!self->errors_.empty()) {
            self->errors_ += "; ";
        }
        self->errors_ += message;
    }

    mutable std::mutex mutex_;
    std::string errors_;
    std::array<fluid_log_function_t, LAST_LOG_LEVEL> previous_{};
};

SynthPtr MakeSynth(fluid_settings_t* settings) {
    SynthPtr synth(new_fluid_synth(settings));
    if (synth == nullptr) {
        throw SoundError(kUnknownError);
    }
    return synth;
}

void RequireRoom(std::size_t bytes) {
    if (!HasRoomFor(bytes)) {
        throw SoundError(std::string("音を出せません (") + kNoMemory + ")");
    }
}

}  // namespace

void ConfigureFluidSynth() {
    // FluidSynth prints its warnings to the terminal by default, also from the audio thread
    // while it plays; what matters reaches the player through the error box instead.
    for (int level = 0; level < LAST_LOG_LEVEL; ++level) {
        fluid_set_log_function(
            level, [](int, const char*, void*) {}, nullptr);
    }
    // FluidSynth loads the samples with a team of OpenMP threads, and OpenMP ends the whole
    // program when it cannot start one (a user's process limit, a small address space). One
    // thread loads the game's sound font in a moment. OpenMP keeps the team size per thread:
    // this holds for the thread that calls it.
    omp_set_num_threads(1);
}

SettingsPtr MakeSettings() {
    SettingsPtr settings(new_fluid_settings());
    if (settings == nullptr) {
        throw SoundError(kUnknownError);
    }
    return settings;
}

PlayerPtr MakePlayer(fluid_synth_t* synth, const std::vector<char>& midi,
                     handle_midi_event_func_t playback, void* data) {
    PlayerPtr player(new_fluid_player(synth));
    if (player == nullptr ||
        fluid_player_add_mem(player.get(), midi.data(), midi.size()) != FLUID_OK ||
        fluid_player_set_playback_callback(player.get(), playback, data) != FLUID_OK) {
        throw SoundError(kUnknownError);
    }
    return player;
}

EventPtr MakeEvent() {
    EventPtr event(new_fluid_midi_event());
    if (event == nullptr) {
        throw SoundError(kUnknownError);
    }
    return event;
}

// FluidSynth parses the file only once playing has begun, so a silent throw-away synth renders
// one small block to find out; the piece's events are dropped, since only its length counts.
long LengthAsPlayed(const std::vector<char>& midi) {
    const LogCapture log;
    RequireRoom(kSynthRoom);
    const SettingsPtr settings = MakeSettings();
    // It has no sound font and makes no sound: keep it as small as FluidSynth allows.
    fluid_settings_setint(settings.get(), "synth.polyphony", 1);
    fluid_settings_setint(settings.get(), "synth.reverb.active", 0);
    fluid_settings_setint(settings.get(), "synth.chorus.active", 0);
    const SynthPtr synth = MakeSynth(settings.get());
    const PlayerPtr player = MakePlayer(
        synth.get(), midi, [](void*, fluid_midi_event_t*) { return FLUID_OK; }, nullptr);
    if (fluid_player_play(player.get()) != FLUID_OK) {
        return 0;
    }
    std::array<std::int16_t, kSmallBlock * AudioOutput::kChannels> block{};
    fluid_synth_write_s16(synth.get(), kSmallBlock, block.data(), 0, AudioOutput::kChannels,
                          block.data(), 1, AudioOutput::kChannels);
    const long length = fluid_player_get_total_ticks(player.get());
    fluid_player_stop(player.get());
    return length;
}

SynthPtr MakeVoicedSynth(fluid_settings_t* settings, int rate, const std::string& soundfont) {
    const PlainFile file(soundfont);
    CheckSoundfontFile(file, soundfont);
    RequireRoom(kSynthRoom + kSoundfontRoomPerByte * file.size());
    fluid_settings_setnum(settings, "synth.sample-rate", rate);
    fluid_settings_setnum(settings, "synth.gain", kGain);
    fluid_settings_setint(settings, "synth.polyphony", kPolyphony);
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 0);
    SynthPtr synth = MakeSynth(settings);
    // Through the descriptor already checked, so the name is not looked up again.
    const std::string opened = "/proc/self/fd/" + std::to_string(file.descriptor());
    const LogCapture log;
    if (fluid_synth_sfload(synth.get(), opened.c_str(), 1) == FLUID_FAILED) {
        throw SoundError(BrokenSoundfont(soundfont, log.Errors("形式が違います")));
    }
    return synth;
}

int Division(const std::vector<char>& midi) {
    return (static_cast<unsigned char>(midi.at(12)) & 0x7F) << 8 |
           static_cast<unsigned char>(midi.at(13));
}

}  // namespace koma::sound
