#include "sound/synth_music_device.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

namespace koma::sound {
namespace {

constexpr const char* kDebianSoundfont = "/usr/share/sounds/sf3/default-GM.sf3";
constexpr double kGain = 0.8;  // FluidSynth's own 0.2 is too quiet next to the effect
constexpr int kProbeFrames = 64;
// The tune needs a few dozen voices at once; FluidSynth's default of 256 costs memory for nothing.
constexpr int kPolyphony = 64;
// After a play, the reverb's tail still sounds this long once the last voice has ended; then
// rendering stops until the next play, so an idle device costs next to nothing.
constexpr int kTailSeconds = 2;

struct SettingsDeleter {
    void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* synth) const { delete_fluid_synth(synth); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t* player) const { delete_fluid_player(player); }
};
using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using PlayerPtr = std::unique_ptr<fluid_player_t, PlayerDeleter>;

std::string Quoted(const std::string& name) {
    return "「" + name + "」";
}

// Collects FluidSynth's error messages while alive, so that a failure can say what went wrong,
// and keeps them off the terminal. FluidSynth's logging is process-wide: use this only while no
// synth of ours is rendering. The previous log functions are put back afterwards.
class LogCapture {
  public:
    LogCapture() {
        for (int level = 0; level < LAST_LOG_LEVEL; ++level) {
            previous_.at(Index(level)) = fluid_set_log_function(level, &Collect, this);
        }
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    ~LogCapture() {
        for (int level = 0; level < LAST_LOG_LEVEL; ++level) {
            fluid_set_log_function(level, previous_.at(Index(level)), nullptr);
        }
    }

    // The collected errors, or `fallback` when there were none.
    std::string Errors(const std::string& fallback) const {
        const std::lock_guard lock(mutex_);
        return errors_.empty() ? fallback : errors_;
    }

  private:
    static std::size_t Index(int level) { return static_cast<std::size_t>(level); }

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

std::vector<char> ReadMidiFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) {
        throw SoundError("音楽ファイル" + Quoted(path) + "が見つかりません");
    }
    if (fs::is_directory(status)) {
        throw SoundError(Quoted(path) + "はフォルダーで、音楽ファイルではありません");
    }
    // Only a plain file: opening a pipe waits for a writer that never comes, and a device such
    // as /dev/zero never ends.
    if (!fs::is_regular_file(status)) {
        throw SoundError(Quoted(path) + "は MIDI ファイルではありません");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        throw SoundError("音楽ファイル" + Quoted(path) + "を読めません");
    }
    // The header first, so that a large file of something else is not read whole.
    if (fluid_is_midifile(path.c_str()) == 0) {
        throw SoundError(Quoted(path) + "は MIDI ファイルではありません");
    }
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) {
        throw SoundError("音楽ファイル" + Quoted(path) + "を読めません");
    }
    return bytes;
}

SettingsPtr MakeSettings() {
    SettingsPtr settings(new_fluid_settings());
    if (settings == nullptr) {
        throw SoundError("原因不明のエラー");
    }
    return settings;
}

SynthPtr MakeSynth(fluid_settings_t* settings) {
    SynthPtr synth(new_fluid_synth(settings));
    if (synth == nullptr) {
        throw SoundError("原因不明のエラー");
    }
    return synth;
}

PlayerPtr MakePlayer(fluid_synth_t* synth, const std::vector<char>& midi) {
    PlayerPtr player(new_fluid_player(synth));
    if (player == nullptr ||
        fluid_player_add_mem(player.get(), midi.data(), midi.size()) != FLUID_OK) {
        throw SoundError("原因不明のエラー");
    }
    return player;
}

// The piece's length in ticks. FluidSynth parses the file only once playing has begun, so a
// silent throw-away synth renders one small block to find out.
long ProbeLength(const std::vector<char>& midi) {
    const SettingsPtr settings = MakeSettings();
    // It has no sound font and makes no sound: keep it as small as FluidSynth allows.
    fluid_settings_setint(settings.get(), "synth.polyphony", 1);
    fluid_settings_setint(settings.get(), "synth.reverb.active", 0);
    fluid_settings_setint(settings.get(), "synth.chorus.active", 0);
    const SynthPtr synth = MakeSynth(settings.get());
    const PlayerPtr player = MakePlayer(synth.get(), midi);
    if (fluid_player_play(player.get()) != FLUID_OK) {
        return 0;
    }
    std::array<std::int16_t, kProbeFrames * AudioOutput::kChannels> block{};
    fluid_synth_write_s16(synth.get(), kProbeFrames, block.data(), 0, AudioOutput::kChannels,
                          block.data(), 1, AudioOutput::kChannels);
    const long length = fluid_player_get_total_ticks(player.get());
    fluid_player_stop(player.get());
    return length;
}

class SynthMusicDevice final : public MusicDevice {
  public:
    SynthMusicDevice(AudioOutput& output, std::string soundfont)
        : output_(output), soundfont_(std::move(soundfont)) {}
    ~SynthMusicDevice() override { Close(); }

    void Open(const std::string& path, NotifyHandler notify) override;
    void Play() override;
    void Stop() override;
    void SeekToStart() override;
    long Position() const override;
    long Length() const override { return length_; }

  private:
    void Close();
    void RequireOpen() const;
    void Render(Uint8* stream, int bytes);
    void OnTick(int tick);
    void Notify(NotifyKind kind) const;

    static void RenderHook(void* self, Uint8* stream, int bytes) {
        static_cast<SynthMusicDevice*>(self)->Render(stream, bytes);
    }
    static int TickHook(void* self, int tick) {
        static_cast<SynthMusicDevice*>(self)->OnTick(tick);
        return FLUID_OK;
    }

    AudioOutput& output_;
    const std::string soundfont_;

    SettingsPtr settings_;
    SynthPtr synth_;
    PlayerPtr player_;  // declared last: deleted before the synth it plays on
    bool hooked_ = false;
    long length_ = 0;
    NotifyHandler notify_;

    // Serialises the player's controls with the audio thread's rendering; notifications are
    // sent only after it is released, so a handler may call back into the device.
    mutable std::mutex mutex_;
    // The player applies a seek only at its next block and shows the old tick until then.
    bool rewound_ = false;
    // The play that started last still owes its notification; whoever clears it sends it.
    std::atomic<bool> owed_{false};
    bool ended_ = false;     // audio thread only: the block just rendered reached the end
    long quiet_frames_ = 0;  // audio thread only: rendered since the music last sounded
};

void SynthMusicDevice::Open(const std::string& path, NotifyHandler notify) {
    Close();
    try {
        const std::vector<char> midi = ReadMidiFile(path);
        if (!output_.IsOpen()) {
            throw SoundError("音楽を鳴らせません: " + output_.Error());
        }
        const std::string soundfont = soundfont_.empty() ? DefaultSoundfont() : soundfont_;
        std::error_code error;
        if (!std::filesystem::is_regular_file(soundfont, error)) {
            throw SoundError("音色ファイル" + Quoted(soundfont) + "が見つかりません");
        }

        SettingsPtr settings;
        SynthPtr synth;
        PlayerPtr player;
        long length = 0;
        {
            const LogCapture log;
            length = ProbeLength(midi);
            if (length <= 0) {
                // Also what a truncated file gives. Accepting it would end every play at once.
                throw SoundError(Quoted(path) + "は壊れた MIDI ファイルです (曲の長さが 0 です)");
            }
            settings = MakeSettings();
            fluid_settings_setnum(settings.get(), "synth.sample-rate", output_.SampleRate());
            fluid_settings_setnum(settings.get(), "synth.gain", kGain);
            fluid_settings_setint(settings.get(), "synth.polyphony", kPolyphony);
            // Samples are read when a note first needs them, which keeps the open fast.
            fluid_settings_setint(settings.get(), "synth.dynamic-sample-loading", 1);
            synth = MakeSynth(settings.get());
            if (fluid_synth_sfload(synth.get(), soundfont.c_str(), 1) == FLUID_FAILED) {
                throw SoundError("音色ファイル" + Quoted(soundfont) + "を読み込めません (" +
                                 log.Errors("形式が違います") + ")");
            }
            player = MakePlayer(synth.get(), midi);
            fluid_player_set_tick_callback(player.get(), &TickHook, this);
        }

        settings_ = std::move(settings);
        synth_ = std::move(synth);
        player_ = std::move(player);
        length_ = length;
        notify_ = std::move(notify);
        rewound_ = false;
        owed_ = false;
        ended_ = false;
        Mix_HookMusic(&RenderHook, this);
        hooked_ = true;
    } catch (const SoundError&) {
        throw;
    } catch (const std::exception&) {
        Close();
        throw SoundError("原因不明のエラー");
    }
}

void SynthMusicDevice::Close() {
    if (hooked_) {
        // Waits for a render in progress; afterwards the audio thread no longer sees us.
        Mix_HookMusic(nullptr, nullptr);
        hooked_ = false;
    }
    player_.reset();
    synth_.reset();
    settings_.reset();
    length_ = 0;
    owed_ = false;
    notify_ = nullptr;
}

void SynthMusicDevice::RequireOpen() const {
    if (player_ == nullptr) {
        throw SoundError("音楽が開かれていません");
    }
}

void SynthMusicDevice::Play() {
    RequireOpen();
    const std::lock_guard lock(mutex_);
    // A play while one is outstanding just carries on; that play's notification covers both.
    owed_ = true;
    if (fluid_player_play(player_.get()) != FLUID_OK) {
        owed_ = false;
        throw SoundError("演奏を始められません");
    }
}

void SynthMusicDevice::Stop() {
    RequireOpen();
    bool owed = false;
    {
        const std::lock_guard lock(mutex_);
        fluid_player_stop(player_.get());  // pauses at once and keeps the tick
        owed = owed_.exchange(false);
    }
    if (owed) {
        Notify(NotifyKind::Aborted);
    }
}

void SynthMusicDevice::SeekToStart() {
    RequireOpen();
    const std::lock_guard lock(mutex_);
    if (fluid_player_seek(player_.get(), 0) != FLUID_OK) {
        throw SoundError("先頭に戻せません");
    }
    rewound_ = true;
}

long SynthMusicDevice::Position() const {
    const std::lock_guard lock(mutex_);
    if (player_ == nullptr || rewound_) {
        return 0;
    }
    // The player's tick runs on past the last event; the end counts as the length.
    return std::clamp<long>(fluid_player_get_current_tick(player_.get()), 0, length_);
}

// Audio thread, with SDL's audio lock held.
void SynthMusicDevice::Render(Uint8* stream, int bytes) {
    const int frames = bytes / (AudioOutput::kChannels * static_cast<int>(sizeof(std::int16_t)));
    bool ended = false;
    {
        const std::lock_guard lock(mutex_);
        if (owed_ || fluid_synth_get_active_voice_count(synth_.get()) > 0) {
            quiet_frames_ = 0;
        } else if (quiet_frames_ >= static_cast<long>(kTailSeconds) * output_.SampleRate()) {
            return;  // the mixer has already filled the buffer with silence
        } else {
            quiet_frames_ += frames;
        }
        fluid_synth_write_s16(synth_.get(), frames, stream, 0, AudioOutput::kChannels, stream, 1,
                              AudioOutput::kChannels);
        ended = std::exchange(ended_, false);
    }
    if (ended) {
        Notify(NotifyKind::Successful);
    }
}

// Audio thread, inside Render (mutex_ held), about every 64 frames while the player plays.
void SynthMusicDevice::OnTick(int tick) {
    if (rewound_) {
        if (tick >= length_) {
            return;  // the seek to the start is not applied yet: this is the old tick
        }
        rewound_ = false;
    }
    // The player's own end comes seconds after the last event, so the tick decides.
    if (tick >= length_ && owed_.exchange(false)) {
        fluid_player_stop(player_.get());
        ended_ = true;
    }
}

void SynthMusicDevice::Notify(NotifyKind kind) const {
    if (notify_) {
        notify_(kind);
    }
}

}  // namespace

std::string DefaultSoundfont() {
    const SettingsPtr settings(new_fluid_settings());
    char* path = nullptr;
    if (settings != nullptr &&
        fluid_settings_getstr_default(settings.get(), "synth.default-soundfont", &path) ==
            FLUID_OK &&
        path != nullptr && *path != '\0') {
        return path;
    }
    return kDebianSoundfont;
}

std::unique_ptr<MusicDevice> MakeSynthMusicDevice(AudioOutput& output, std::string soundfont) {
    return std::make_unique<SynthMusicDevice>(output, std::move(soundfont));
}

}  // namespace koma::sound
