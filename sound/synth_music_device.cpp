#include "sound/synth_music_device.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <fluidsynth.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "sound/memory_room.h"
#include "sound/music_file.h"
#include "sound/plain_file.h"

namespace koma::sound {
namespace {

constexpr double kGain = 0.8;    // FluidSynth's own 0.2 is too quiet next to the effect
constexpr int kSmallBlock = 64;  // frames: the smallest block FluidSynth renders at once
// The tune needs a few dozen voices at once; FluidSynth's default of 256 costs memory for nothing.
constexpr int kPolyphony = 64;
// After a play, the reverb's tail still sounds this long once the last voice has ended; then
// rendering stops until the next play, so an idle device costs next to nothing.
constexpr int kTailSeconds = 2;
// MIDI events of any kind handled per buffer of about 23 ms. Real music sends a few dozen; a
// piece with thousands of notes at once would keep the synthesiser busy for longer than the
// buffer lasts, the audio thread would never catch up, and a stop or close would wait on it.
// Of such a crowd the surplus note-ons are dropped; everything else (note-offs, controllers,
// programs) waits for the next buffers, so that no note is left hanging.
constexpr int kEventsPerBuffer = 1000;
// The shortest tick the player may take, in microseconds: 50,000 ticks a second, far beyond
// any real piece. A tempo of a microsecond per quarter would have the player run through the
// whole file within one block.
constexpr int kMinTickMicros = 20;

// Room asked for before FluidSynth starts work (see HasRoomFor): a synthesiser and its player,
// and for a sound font, its samples whole and the presets around them, with margin.
constexpr std::size_t kSynthRoom = 8 * kMiB;
constexpr std::size_t kSoundfontRoomPerByte = 3;

// MIDI message kinds, as FluidSynth's events carry them.
constexpr int kNoteOff = 0x80;
constexpr int kNoteOn = 0x90;
constexpr int kControlChange = 0xB0;
constexpr int kPitchBend = 0xE0;
constexpr int kSetTempo = 0x51;  // a meta event
constexpr int kAllSoundOff = 120;
constexpr int kAllNotesOff = 123;
constexpr int kChannels = 16;
constexpr int kKeys = 128;

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
struct EventDeleter {
    void operator()(fluid_midi_event_t* event) const { delete_fluid_midi_event(event); }
};
using EventPtr = std::unique_ptr<fluid_midi_event_t, EventDeleter>;

// A channel message, kept while it waits for a buffer with room for it.
struct ChannelEvent {
    int type;
    int channel;
    int param1;  // key, controller, program or pitch
    int param2;  // velocity or value
};

// The file's ticks per quarter note (the player refuses the other kind of header).
int Division(const std::vector<char>& midi) {
    return (static_cast<unsigned char>(midi.at(12)) & 0x7F) << 8 |
           static_cast<unsigned char>(midi.at(13));
}

// FluidSynth prints its warnings to the terminal by default, also from the audio thread while
// it plays; what matters reaches the player through the error box instead.
void SilenceFluidSynth() {
    for (int level = 0; level < LAST_LOG_LEVEL; ++level) {
        fluid_set_log_function(
            level, [](int, const char*, void*) {}, nullptr);
    }
}

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

SettingsPtr MakeSettings() {
    SettingsPtr settings(new_fluid_settings());
    if (settings == nullptr) {
        throw SoundError(kUnknownError);
    }
    return settings;
}

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

// The piece's length in ticks. FluidSynth parses the file only once playing has begun, so a
// silent throw-away synth renders one small block to find out; the piece's events are dropped,
// since only its length counts here.
long LengthAsPlayed(const std::vector<char>& midi) {
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

// A synthesiser at the output's rate with the sound font loaded whole: samples read later, as
// FluidSynth's dynamic loading does, would come from whatever the file has become by then.
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
    // FluidSynth loads the samples with a team of OpenMP threads, and OpenMP ends the whole
    // program when it cannot start one (a user's process limit, a small address space). One
    // thread loads the game's sound font in a moment.
    omp_set_num_threads(1);
    if (fluid_synth_sfload(synth.get(), opened.c_str(), 1) == FLUID_FAILED) {
        throw SoundError(BrokenSoundfont(soundfont, log.Errors("形式が違います")));
    }
    return synth;
}

class SynthMusicDevice final : public MusicDevice, private AudioOutput::MusicSource {
  public:
    SynthMusicDevice(AudioOutput& output, std::string soundfont)
        : output_(output),
          soundfont_(soundfont.empty() ? DefaultSoundfont() : std::move(soundfont)) {
        SilenceFluidSynth();
    }
    SynthMusicDevice(const SynthMusicDevice&) = delete;
    SynthMusicDevice& operator=(const SynthMusicDevice&) = delete;
    ~SynthMusicDevice() override { Close(); }

    void Open(const std::string& path, NotifyHandler notify) override {
        OpenChecked(CheckMusic(path, soundfont_), std::move(notify));
    }
    // Opens music whose files have been checked, with the sound font named there.
    void OpenChecked(const CheckedMusic& music, NotifyHandler notify);
    void Prepare() override;
    void Play() override;
    void Stop() override;
    void SeekToStart() override;
    long Position() const override;
    long Length() const override { return length_; }

  private:
    void Close();
    void RequireOpen() const;
    void Render(std::int16_t* samples, int frames) override;
    bool IsSounding() const override { return !silent_; }
    void OnTick(int tick);
    int OnEvent(fluid_midi_event_t* event);
    void Dispatch(const ChannelEvent& event);
    void DispatchDeferred();
    void ResoundHeldNotes();
    void Notify(NotifyKind kind) const;

    static int TickHook(void* self, int tick) {
        static_cast<SynthMusicDevice*>(self)->OnTick(tick);
        return FLUID_OK;
    }
    static int EventHook(void* self, fluid_midi_event_t* event) {
        return static_cast<SynthMusicDevice*>(self)->OnEvent(event);
    }

    AudioOutput& output_;
    std::string soundfont_;
    std::vector<char> midi_;  // the file as read at the open, for every player made from it
    long length_ = 0;
    int min_tempo_ = 0;  // microseconds per quarter note
    NotifyHandler notify_;

    // Made by the first Prepare(), kept until the close.
    SettingsPtr settings_;
    SynthPtr synth_;
    PlayerPtr player_;  // declared last: deleted before the synth it plays on
    EventPtr replay_;   // carries deferred events to the synthesiser
    int synth_rate_ = 0;

    // Serialises the player's controls with the audio thread's rendering; notifications are
    // sent only after it is released, so a handler may call back into the device.
    mutable std::mutex mutex_;
    // The player applies a seek only at its next block and shows the old tick until then.
    bool rewound_ = false;
    // The play that started last still owes its notification; whoever clears it sends it.
    std::atomic<bool> owed_{false};
    // Nothing plays and the reverb's tail has ended: the output may close.
    std::atomic<bool> silent_{true};
    // Where the last stop left the player; the next play resumes there, unless rewound.
    long stopped_at_ = -1;
    bool resuming_ = false;  // the notes held at the stop sound again with the next buffer
    bool ended_ = false;     // audio thread: the block just rendered reached the end
    long quiet_frames_ = 0;  // audio thread: rendered since the last play ended or stopped
    int budget_ = 0;         // audio thread: events the synthesiser may still take this buffer
    std::deque<ChannelEvent> deferred_;  // audio thread: waiting, in the file's order
    // Audio thread: the velocity of every note the file holds down at the position; 0: none.
    std::array<std::array<unsigned char, kKeys>, kChannels> held_{};
    // The notes held at the last stop: the player's own release clears held_ afterwards.
    std::array<std::array<unsigned char, kKeys>, kChannels> held_at_stop_{};
};

void SynthMusicDevice::OpenChecked(const CheckedMusic& music, NotifyHandler notify) {
    Close();
    // FluidSynth's own count, since the tick it reports decides where a play ends.
    const long length = [&music] {
        const LogCapture log;
        return LengthAsPlayed(music.midi);
    }();
    if (length <= 0) {
        throw SoundError(BrokenMidi(music.path));
    }
    soundfont_ = music.soundfont;
    min_tempo_ = Division(music.midi) * kMinTickMicros;
    midi_ = music.midi;
    length_ = length;
    notify_ = std::move(notify);
}

void SynthMusicDevice::Prepare() {
    RequireOpen();
    output_.Open();
    if (synth_ != nullptr && synth_rate_ == output_.SampleRate()) {
        return;
    }
    output_.RemoveMusic(this);
    SettingsPtr settings;
    SynthPtr synth;
    PlayerPtr player;
    EventPtr replay(new_fluid_midi_event());
    try {
        settings = MakeSettings();
        synth = MakeVoicedSynth(settings.get(), output_.SampleRate(), soundfont_);
        player = MakePlayer(synth.get(), midi_, &EventHook, this);
        if (replay == nullptr) {
            throw SoundError(kUnknownError);
        }
    } catch (const SoundError&) {
        // Nothing of ours can sound now: the output goes at once, not at the next sound off.
        output_.CloseIfSilent();
        throw;
    }
    fluid_player_set_tick_callback(player.get(), &TickHook, this);

    player_.reset();  // before the synth it plays on
    settings_ = std::move(settings);
    synth_ = std::move(synth);
    player_ = std::move(player);
    replay_ = std::move(replay);
    synth_rate_ = output_.SampleRate();
    rewound_ = false;
    stopped_at_ = -1;
    resuming_ = false;
    deferred_.clear();
    held_ = {};
    held_at_stop_ = {};
    owed_ = false;
    ended_ = false;
    silent_ = true;
    quiet_frames_ = static_cast<long>(kTailSeconds) * synth_rate_;  // no tail to render yet
    output_.SetMusic(this);
}

void SynthMusicDevice::Close() {
    // Waits for a render in progress; afterwards the audio thread no longer sees us.
    output_.RemoveMusic(this);
    player_.reset();
    synth_.reset();
    settings_.reset();
    synth_rate_ = 0;
    midi_.clear();
    length_ = 0;
    owed_ = false;
    silent_ = true;
    notify_ = nullptr;
}

void SynthMusicDevice::RequireOpen() const {
    if (length_ <= 0) {
        throw SoundError("音楽が開かれていません");
    }
}

void SynthMusicDevice::Play() {
    Prepare();
    const std::lock_guard lock(mutex_);
    // A play while one is outstanding just carries on; that play's notification covers both.
    owed_ = true;
    silent_ = false;
    quiet_frames_ = 0;
    // The player's own clock runs on while it is stopped: without this it would skip the
    // silent stretch.
    if (stopped_at_ >= 0 && !rewound_ &&
        fluid_player_get_status(player_.get()) != FLUID_PLAYER_PLAYING &&
        fluid_player_seek(player_.get(), static_cast<int>(stopped_at_)) == FLUID_OK) {
        resuming_ = true;
    }
    stopped_at_ = -1;
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
        if (player_ != nullptr && fluid_player_get_status(player_.get()) == FLUID_PLAYER_PLAYING) {
            fluid_player_stop(player_.get());  // pauses at once and releases its notes
            stopped_at_ = fluid_player_get_current_tick(player_.get());
            if (!resuming_) {  // else nothing has played since the last stop
                held_at_stop_ = held_;
            }
        }
        owed = owed_.exchange(false);
    }
    if (owed) {
        Notify(NotifyKind::kAborted);
    }
}

void SynthMusicDevice::SeekToStart() {
    RequireOpen();
    const std::lock_guard lock(mutex_);
    if (player_ == nullptr) {
        return;  // nothing has played yet: already at the start
    }
    if (fluid_player_seek(player_.get(), 0) != FLUID_OK) {
        throw SoundError("先頭に戻せません");
    }
    rewound_ = true;
    resuming_ = false;
    held_ = {};  // the seek releases every note
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
void SynthMusicDevice::Render(std::int16_t* samples, int frames) {
    bool ended = false;
    {
        const std::lock_guard lock(mutex_);
        if (owed_) {
            quiet_frames_ = 0;
        } else if (quiet_frames_ >= static_cast<long>(kTailSeconds) * synth_rate_) {
            // The play ended or stopped a while ago: whatever still sounds is a note the file
            // never released, and it must not hold the output.
            if (!silent_) {
                fluid_synth_all_sounds_off(synth_.get(), -1);
                deferred_.clear();
                silent_ = true;
            }
            return;  // the mixer has already filled the buffer with silence
        } else {
            quiet_frames_ += frames;
        }
        budget_ = kEventsPerBuffer;
        DispatchDeferred();
        int done = 0;
        if (resuming_) {
            // The first block applies the resume's seek, which releases every note; the notes
            // held at the stop then sound again from the next block on.
            done = std::min(frames, kSmallBlock);
            fluid_synth_write_s16(synth_.get(), done, samples, 0, AudioOutput::kChannels, samples,
                                  1, AudioOutput::kChannels);
            ResoundHeldNotes();
            resuming_ = false;
        }
        std::int16_t* const rest = samples + done * AudioOutput::kChannels;
        fluid_synth_write_s16(synth_.get(), frames - done, rest, 0, AudioOutput::kChannels, rest, 1,
                              AudioOutput::kChannels);
        ended = std::exchange(ended_, false);
    }
    if (ended) {
        Notify(NotifyKind::kSuccessful);
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

// Audio thread, inside Render (mutex_ held): every event the player sends.
int SynthMusicDevice::OnEvent(fluid_midi_event_t* event) {
    const int type = fluid_midi_event_get_type(event);
    const bool room = budget_ > 0 && deferred_.empty();
    budget_ = std::max(budget_ - 1, 0);
    if (type == kSetTempo) {
        // The player applies the tempo (the event's first parameter, microseconds per quarter)
        // after this returns, and keeps the event: a floor set here holds for every pass.
        if (fluid_midi_event_get_control(event) < min_tempo_) {
            fluid_midi_event_set_control(event, min_tempo_);
        }
        return FLUID_OK;
    }
    if (type < kNoteOff || type > kPitchBend + 0x0F) {
        // System exclusive and text: nothing a hanging note depends on.
        return room ? fluid_synth_handle_midi_event(synth_.get(), event) : FLUID_OK;
    }
    const ChannelEvent channel_event{type, fluid_midi_event_get_channel(event),
                                     fluid_midi_event_get_control(event),
                                     fluid_midi_event_get_value(event)};
    if (room) {
        Dispatch(channel_event);
    } else if (type != kNoteOn || channel_event.param2 == 0) {
        deferred_.push_back(channel_event);
    }
    return FLUID_OK;
}

// Audio thread, mutex_ held: passes one channel message on and keeps track of the held notes.
void SynthMusicDevice::Dispatch(const ChannelEvent& event) {
    if (event.channel < 0 || event.channel >= kChannels) {
        return;
    }
    auto& held = held_.at(static_cast<std::size_t>(event.channel));
    const auto key = static_cast<std::size_t>(std::clamp(event.param1, 0, kKeys - 1));
    if (event.type == kNoteOn || event.type == kNoteOff) {
        held.at(key) = event.type == kNoteOn ? static_cast<unsigned char>(event.param2) : 0;
    } else if (event.type == kControlChange &&
               (event.param1 == kAllNotesOff || event.param1 == kAllSoundOff)) {
        held = {};
    }
    fluid_midi_event_set_type(replay_.get(), event.type);
    fluid_midi_event_set_channel(replay_.get(), event.channel);
    fluid_midi_event_set_control(replay_.get(), event.param1);
    fluid_midi_event_set_value(replay_.get(), event.param2);
    fluid_synth_handle_midi_event(synth_.get(), replay_.get());
}

// Audio thread, mutex_ held: what earlier buffers had no room for goes first.
void SynthMusicDevice::DispatchDeferred() {
    while (budget_ > 0 && !deferred_.empty()) {
        Dispatch(deferred_.front());
        deferred_.pop_front();
        --budget_;
    }
}

// Audio thread, mutex_ held.
void SynthMusicDevice::ResoundHeldNotes() {
    held_ = held_at_stop_;
    for (int channel = 0; channel < kChannels; ++channel) {
        for (int key = 0; key < kKeys; ++key) {
            const int velocity =
                held_.at(static_cast<std::size_t>(channel)).at(static_cast<std::size_t>(key));
            if (velocity > 0 && budget_ > 0) {
                fluid_synth_noteon(synth_.get(), channel, key, velocity);
                --budget_;
            }
        }
    }
}

void SynthMusicDevice::Notify(NotifyKind kind) const {
    if (notify_) {
        notify_(kind);
    }
}

}  // namespace

std::unique_ptr<MusicDevice> MakeSynthMusicDevice(AudioOutput& output, std::string soundfont) {
    return std::make_unique<SynthMusicDevice>(output, std::move(soundfont));
}

std::unique_ptr<MusicDevice> OpenSynthMusic(AudioOutput& output, const CheckedMusic& music,
                                            MusicDevice::NotifyHandler notify) {
    auto device = std::make_unique<SynthMusicDevice>(output, music.soundfont);
    device->OpenChecked(music, std::move(notify));
    return device;
}

}  // namespace koma::sound
