// The music device: FluidSynth's player plays the piece into a synthesiser, which the audio
// thread renders into the output's buffer. Two threads meet here: the game's thread drives the
// player (open, prepare, play, stop, rewind, position) and the audio thread renders, and with
// it the player sends the piece's events. What they share is SharedState below, with its rule;
// the file reads in two halves, the game's side first, then the audio thread's.
#include "sound/module/synth_music_device.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "sound/checks/music_file.h"
#include "sound/module/synth_parts.h"

namespace koma::sound {
namespace {

// After a play, the reverb's tail still sounds this long once the last voice has ended; then
// rendering stops until the next play, so an idle device costs next to nothing.
constexpr int kTailSeconds = 2;
// MIDI events of any kind the player may send per buffer of the output (2048 frames, 46 ms).
// Real music sends a few dozen; a piece with thousands of events at once would keep the
// synthesiser busy for longer than the buffer lasts, the audio thread would never catch up, and
// a stop or close would wait on it. Of such a crowd the surplus note-ons are dropped, and the
// rest waits for the next buffers, or is folded into what waits (WaitingEvents). Every event the
// player sends counts, also one it replays at each pass: a pass that sent more than its share
// leaves a debt, and the next pass begins only once later buffers have paid it, so a short piece
// full of events cannot be replayed with every buffer.
constexpr int kEventsPerBuffer = 1000;
// The shortest tick the player may take, in microseconds: 50,000 ticks a second, far beyond
// any real piece. A tempo of a microsecond per quarter would have the player run through the
// whole file within one block.
constexpr int kMinTickMicros = 20;

// MIDI message kinds, as FluidSynth's events carry them.
constexpr int kNoteOff = 0x80;
constexpr int kNoteOn = 0x90;
constexpr int kControlChange = 0xB0;
constexpr int kProgramChange = 0xC0;
constexpr int kChannelPressure = 0xD0;
constexpr int kPitchBend = 0xE0;
constexpr int kSetTempo = 0x51;  // a meta event
constexpr int kAllSoundOff = 120;
constexpr int kAllNotesOff = 123;
constexpr int kChannels = 16;
constexpr int kKeys = 128;

// A velocity for every key of every channel; 0: the key is not held.
using Keys = std::array<std::array<unsigned char, kKeys>, kChannels>;

// A channel message, kept while it waits for a buffer with room for it.
struct ChannelEvent {
    int type;
    int channel;
    int param1;  // key, controller, program or pitch
    int param2;  // velocity or value

    bool IsNoteOff() const { return type == kNoteOff || (type == kNoteOn && param2 == 0); }
    std::size_t Channel() const { return static_cast<std::size_t>(channel); }
    std::size_t Key() const { return static_cast<std::size_t>(std::clamp(param1, 0, kKeys - 1)); }
};

// What the game's thread and the audio thread share, and its rule:
// - While the device is the output's music (from Prepare's SetMusic to the next RemoveMusic),
//   every field below, and FluidSynth's player and synthesiser, is read and written with `lock`
//   held: the game's thread takes it for each control (Play, Stop, SeekToStart, Position), the
//   audio thread for each buffer it renders (Render, inside which the player calls OnTick and
//   OnEvent), across the rendering: so a control waits for at most one buffer's rendering, a
//   few milliseconds (the event budget bounds it), never for the sound server. Neither thread
//   sends a notification while holding it, so a handler may call back into the device.
// - `silent` alone is also read without the lock (IsSounding: the output's keeper, asking
//   whether the output may close): it is atomic.
// - Prepare (when it makes the synthesiser) and Close write the fields, the player and the
//   synthesiser without the lock, and OpenChecked the piece: each first takes the device off
//   the output (RemoveMusic waits for a render in progress, notification included), so the
//   audio thread cannot see it then; SetMusic hands it back, and what was written before it
//   is seen by the next render. The audio thread's own fields (after the synthesiser, below)
//   are reset there the same way.
// Each field says which thread writes it and which reads it.
struct SharedState {
    std::mutex lock;
    // Game sets it at a play. A stop (game) or the end of the piece (audio) clears it and sends
    // the notification the play started last owes; a start that fails (audio) clears it and
    // sends none, as a failed play does.
    bool owed = false;
    // Game sets it at a play; audio clears it as it starts the player, with the first buffer
    // once the events of earlier passes are paid for. A stop before then clears it: the play
    // never begins.
    bool starting = false;
    // Game sets it at a play that resumes after a stop, clears it at a rewind or a stop; audio
    // clears it as it sounds the notes held at the stop again.
    bool resuming = false;
    // Game sets it at a stop; audio clears it as it silences every note, also those it sounded
    // again itself, which FluidSynth's player does not silence.
    bool releasing = false;
    // Game sets it at a seek to the start, and reads it for the position; audio clears it once
    // the player has applied the seek, until which the player shows the old tick.
    bool rewound = false;
    // Game: where the last stop left the player, read by the next play; audio: -1 once it
    // starts the player.
    long stopped_at = -1;
    // Audio: the velocity of every note the file holds down at the position; 0: none. Game:
    // copies it at a stop, clears it at a rewind.
    Keys held{};
    // Game: the notes held at the last stop; audio sounds them again when it resumes.
    Keys held_at_stop{};
    // Nothing plays and the reverb's tail has ended. Written with the lock held (game: a play;
    // audio: the tail's end), read without it (the output's keeper).
    std::atomic<bool> silent{true};
};

// Channel messages that found no room in their buffer, in the file's order, in room fixed at
// the start: nothing is allocated on the audio thread, and however many events a piece sends,
// the waiting ones stay bounded. A release always waits, unless the same one waits already,
// which is sent later and so releases as much: a note-off only for a note that sounds, at most
// once for each key of each channel; All Sound Off (with which the player silences a channel
// at a stop or seek) and All Notes Off, at most once for each channel. Any other message waits
// while fewer than a buffer's share of others do. Past that, a setting of a channel (a
// controller, the program, the channel pressure, the pitch bend) is folded into the last one of
// its kind that waits, or waits after the others once, carrying the latest value: so each
// channel ends with the settings the file gave it last, such as the sustain pedal's release or
// the bend's return to the centre. Only the surplus note-ons and key pressures are dropped.
class WaitingEvents {
  public:
    WaitingEvents() : ring_(kCapacity) { Clear(); }

    bool Empty() const { return count_ == 0; }
    // `sounding`: whether the note an event releases sounds now.
    void Push(const ChannelEvent& event, bool sounding);
    ChannelEvent Pop();
    void Clear();

  private:
    // A slot for each key's note-off, then All Sound Off and All Notes Off.
    static constexpr std::size_t kReleases = kKeys + 2;
    // One for each controller, then the program, the channel pressure and the pitch bend.
    static constexpr std::size_t kSettings = kKeys + 3;
    static constexpr std::size_t kOthersRoom = kEventsPerBuffer;
    static constexpr std::size_t kCapacity =
        kChannels * kReleases + kOthersRoom + kChannels * kSettings;
    static constexpr std::size_t kNowhere = kCapacity;

    // Whether `event`'s release waits already; nullptr when it releases nothing.
    bool* ReleaseWaits(const ChannelEvent& event);
    // Where in the ring the folded setting of `event`'s kind waits (kNowhere: it does not);
    // nullptr when `event` is no setting.
    std::size_t* FoldedAt(const ChannelEvent& event);
    void Append(const ChannelEvent& event);

    std::vector<ChannelEvent> ring_;
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::size_t others_ = 0;
    std::array<std::array<bool, kReleases>, kChannels> release_waits_{};
    std::array<std::array<std::size_t, kSettings>, kChannels> folded_at_{};
};

class SynthMusicDevice final : public MusicDevice, private AudioOutput::MusicSource {
  public:
    SynthMusicDevice(AudioOutput& output, std::string soundfont)
        : output_(output),
          soundfont_(soundfont.empty() ? DefaultSoundfont() : std::move(soundfont)) {}
    SynthMusicDevice(const SynthMusicDevice&) = delete;
    SynthMusicDevice& operator=(const SynthMusicDevice&) = delete;
    ~SynthMusicDevice() override { Close(); }

    // The game's side.
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
    void Notify(NotifyKind kind) const;

    // The audio thread's side.
    void Render(std::int16_t* samples, int frames) override;
    bool IsSounding() const override { return !shared_.silent; }
    bool KeepsRendering(int frames);
    bool StartIfDue();
    void Write(std::int16_t* samples, int frames);
    void OnTick(int tick);
    int OnEvent(fluid_midi_event_t* event);
    void Dispatch(const ChannelEvent& event);
    void DispatchWaiting();
    void ResoundHeldNotes();

    static int TickHook(void* self, int tick) {
        static_cast<SynthMusicDevice*>(self)->OnTick(tick);
        return FLUID_OK;
    }
    static int EventHook(void* self, fluid_midi_event_t* event) {
        return static_cast<SynthMusicDevice*>(self)->OnEvent(event);
    }

    AudioOutput& output_;
    std::string soundfont_;
    // The piece, set by the open while the audio thread cannot see the device, read by both.
    std::vector<char> midi_;  // the file as read at the open, for every player made from it
    long length_ = 0;
    int min_tempo_ = 0;  // microseconds per quarter note
    NotifyHandler notify_;

    // Made by the first Prepare(), kept until the close; used under shared_.lock.
    SettingsPtr settings_;
    SynthPtr synth_;
    PlayerPtr player_;  // declared last: deleted before the synth it plays on
    int synth_rate_ = 0;

    mutable SharedState shared_;

    // The audio thread's own, used only inside Render and reset by Prepare.
    EventPtr replay_;        // carries waiting events to the synthesiser
    bool ended_ = false;     // the block just rendered reached the end
    long quiet_frames_ = 0;  // rendered since the last play ended or stopped
    int budget_ = 0;         // events the player may still send this buffer; below 0: a debt
    WaitingEvents waiting_;
};

// ---- The game's side ----

void SynthMusicDevice::OpenChecked(const CheckedMusic& music, NotifyHandler notify) {
    Close();
    // FluidSynth's own count, since the tick it reports decides where a play ends.
    const long length = LengthAsPlayed(music.midi);
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
    // May return while a stopped server holds the output's reopening: the music is rendered at
    // the run's one rate, and sounds once the output is back.
    output_.Open();
    if (synth_ != nullptr && synth_rate_ == output_.SampleRate()) {
        return;
    }
    output_.RemoveMusic(this);
    SettingsPtr settings;
    SynthPtr synth;
    PlayerPtr player;
    EventPtr replay;
    try {
        settings = MakeSettings();
        synth = MakeVoicedSynth(settings.get(), output_.SampleRate(), soundfont_);
        player = MakePlayer(synth.get(), midi_, &EventHook, this);
        replay = MakeEvent();
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
    shared_.owed = false;
    shared_.starting = false;
    shared_.resuming = false;
    shared_.releasing = false;
    shared_.rewound = false;
    shared_.stopped_at = -1;
    shared_.held = {};
    shared_.held_at_stop = {};
    shared_.silent = true;
    ended_ = false;
    quiet_frames_ = static_cast<long>(kTailSeconds) * synth_rate_;  // no tail to render yet
    budget_ = kEventsPerBuffer;
    waiting_.Clear();
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
    shared_.owed = false;
    shared_.silent = true;
    notify_ = nullptr;
}

void SynthMusicDevice::RequireOpen() const {
    if (length_ <= 0) {
        throw SoundError("音楽が開かれていません");
    }
}

void SynthMusicDevice::Play() {
    Prepare();
    const std::lock_guard lock(shared_.lock);
    // A play while one is outstanding just carries on; that play's notification covers both.
    shared_.owed = true;
    shared_.silent = false;
    if (shared_.starting || fluid_player_get_status(player_.get()) == FLUID_PLAYER_PLAYING) {
        return;
    }
    // The player's own clock runs on while it is stopped: without this it would skip the
    // silent stretch.
    if (shared_.stopped_at >= 0 && !shared_.rewound &&
        fluid_player_seek(player_.get(), static_cast<int>(shared_.stopped_at)) == FLUID_OK) {
        shared_.resuming = true;
    }
    shared_.starting = true;
}

void SynthMusicDevice::Stop() {
    RequireOpen();
    bool owed = false;
    {
        const std::lock_guard lock(shared_.lock);
        if (shared_.starting) {
            // Asked for, not yet begun: it never begins, and sounds nothing again.
            shared_.starting = false;
            shared_.resuming = false;
            shared_.releasing = true;
        } else if (player_ != nullptr &&
                   fluid_player_get_status(player_.get()) == FLUID_PLAYER_PLAYING) {
            fluid_player_stop(player_.get());  // pauses at once; silences what it played
            shared_.stopped_at = fluid_player_get_current_tick(player_.get());
            shared_.held_at_stop = shared_.held;
            shared_.releasing = true;
        }
        owed = std::exchange(shared_.owed, false);
    }
    if (owed) {
        Notify(NotifyKind::kAborted);
    }
}

void SynthMusicDevice::SeekToStart() {
    RequireOpen();
    const std::lock_guard lock(shared_.lock);
    if (player_ == nullptr) {
        return;  // nothing has played yet: already at the start
    }
    if (fluid_player_seek(player_.get(), 0) != FLUID_OK) {
        throw SoundError("先頭に戻せません");
    }
    shared_.rewound = true;
    shared_.resuming = false;
    shared_.held = {};  // the seek silences the notes the player sounded
}

long SynthMusicDevice::Position() const {
    const std::lock_guard lock(shared_.lock);
    if (player_ == nullptr || shared_.rewound) {
        return 0;
    }
    // The player's tick runs on past the last event; the end counts as the length.
    return std::clamp<long>(fluid_player_get_current_tick(player_.get()), 0, length_);
}

// Also on the audio thread, once its lock is released.
void SynthMusicDevice::Notify(NotifyKind kind) const {
    if (notify_) {
        notify_(kind);
    }
}

// ---- The audio thread's side: SDL's audio lock and the output's render lock held, and
// shared_.lock inside Render ----

void SynthMusicDevice::Render(std::int16_t* samples, int frames) {
    bool ended = false;
    {
        const std::lock_guard lock(shared_.lock);
        if (!KeepsRendering(frames)) {
            return;  // the mixer has already filled the buffer with silence
        }
        budget_ = std::min(budget_ + kEventsPerBuffer, kEventsPerBuffer);
        if (std::exchange(shared_.releasing, false)) {
            // As the player silences the channels it played on (All Sound Off), and also the
            // notes sounded again at a resume, which the player does not count as its own.
            fluid_synth_all_sounds_off(synth_.get(), -1);
        }
        DispatchWaiting();
        int done = 0;
        if (StartIfDue() && std::exchange(shared_.resuming, false)) {
            // The first block applies the resume's seek, which silences the notes the player
            // sounded; the notes held at the stop then sound again from the next block on.
            done = std::min(frames, kSmallBlock);
            Write(samples, done);
            ResoundHeldNotes();
        }
        Write(samples + done * AudioOutput::kChannels, frames - done);
        ended = std::exchange(ended_, false);
    }
    if (ended) {
        Notify(NotifyKind::kSuccessful);
    }
}

// Whether this buffer is rendered: while a play is owed, and for the reverb's tail after it.
bool SynthMusicDevice::KeepsRendering(int frames) {
    if (shared_.owed) {
        quiet_frames_ = 0;
        return true;
    }
    if (quiet_frames_ < static_cast<long>(kTailSeconds) * synth_rate_) {
        quiet_frames_ += frames;
        return true;
    }
    // The play ended or stopped a while ago: whatever still sounds is a note the file never
    // released, and it must not hold the output.
    if (!shared_.silent) {
        fluid_synth_all_sounds_off(synth_.get(), -1);
        waiting_.Clear();
        shared_.releasing = false;
        shared_.silent = true;
    }
    return false;
}

// Starts the play asked for, once the events of earlier passes are paid for; true if it did.
bool SynthMusicDevice::StartIfDue() {
    if (!shared_.starting || budget_ <= 0) {
        return false;
    }
    shared_.starting = false;
    shared_.stopped_at = -1;
    if (fluid_player_play(player_.get()) != FLUID_OK) {
        shared_.owed = false;  // as a failed play: no notification
        shared_.resuming = false;
        return false;
    }
    return true;
}

void SynthMusicDevice::Write(std::int16_t* samples, int frames) {
    fluid_synth_write_s16(synth_.get(), frames, samples, 0, AudioOutput::kChannels, samples, 1,
                          AudioOutput::kChannels);
}

// About every 64 frames while the player plays.
void SynthMusicDevice::OnTick(int tick) {
    if (shared_.rewound) {
        if (tick >= length_) {
            return;  // the seek to the start is not applied yet: this is the old tick
        }
        shared_.rewound = false;
    }
    // The player's own end comes seconds after the last event, so the tick decides.
    if (tick >= length_ && std::exchange(shared_.owed, false)) {
        fluid_player_stop(player_.get());
        ended_ = true;
    }
}

// Every event the player sends.
int SynthMusicDevice::OnEvent(fluid_midi_event_t* event) {
    const int type = fluid_midi_event_get_type(event);
    const bool room = budget_ > 0 && waiting_.Empty();
    --budget_;
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
    if (channel_event.channel < 0 || channel_event.channel >= kChannels) {
        return FLUID_OK;
    }
    if (room) {
        Dispatch(channel_event);
    } else if (type != kNoteOn || channel_event.param2 == 0) {
        const auto& held = shared_.held.at(channel_event.Channel());
        waiting_.Push(channel_event, held.at(channel_event.Key()) > 0);
    }
    return FLUID_OK;
}

// Passes one channel message on and keeps track of the held notes.
void SynthMusicDevice::Dispatch(const ChannelEvent& event) {
    auto& held = shared_.held.at(event.Channel());
    if (event.type == kNoteOn || event.type == kNoteOff) {
        held.at(event.Key()) = event.type == kNoteOn ? static_cast<unsigned char>(event.param2) : 0;
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

// What earlier buffers had no room for goes first.
void SynthMusicDevice::DispatchWaiting() {
    while (budget_ > 0 && !waiting_.Empty()) {
        Dispatch(waiting_.Pop());
        --budget_;
    }
}

void SynthMusicDevice::ResoundHeldNotes() {
    shared_.held = shared_.held_at_stop;
    for (int channel = 0; channel < kChannels; ++channel) {
        for (int key = 0; key < kKeys; ++key) {
            const int velocity = shared_.held.at(static_cast<std::size_t>(channel))
                                     .at(static_cast<std::size_t>(key));
            if (velocity > 0 && budget_ > 0) {
                fluid_synth_noteon(synth_.get(), channel, key, velocity);
                --budget_;
            }
        }
    }
}

void WaitingEvents::Push(const ChannelEvent& event, bool sounding) {
    if (bool* const waits = ReleaseWaits(event)) {
        if (*waits || (event.IsNoteOff() && !sounding)) {
            return;  // waiting already, or nothing to release
        }
        *waits = true;
        Append(event);
        return;
    }
    std::size_t* const folded = FoldedAt(event);
    if (folded != nullptr && *folded != kNowhere) {
        ring_.at(*folded) = event;  // the last of its kind that waits: only its value changes
    } else if (others_ < kOthersRoom) {
        ++others_;
        Append(event);
    } else if (folded != nullptr) {
        *folded = (first_ + count_) % kCapacity;
        Append(event);
    }
}

void WaitingEvents::Append(const ChannelEvent& event) {
    ring_.at((first_ + count_) % kCapacity) = event;
    ++count_;
}

ChannelEvent WaitingEvents::Pop() {
    const std::size_t at = first_;
    const ChannelEvent event = ring_.at(at);
    first_ = (first_ + 1) % kCapacity;
    --count_;
    std::size_t* const folded = FoldedAt(event);
    if (bool* const waits = ReleaseWaits(event)) {
        *waits = false;
    } else if (folded != nullptr && *folded == at) {
        *folded = kNowhere;
    } else {
        --others_;
    }
    return event;
}

bool* WaitingEvents::ReleaseWaits(const ChannelEvent& event) {
    auto& channel = release_waits_.at(event.Channel());
    if (event.IsNoteOff()) {
        return &channel.at(event.Key());
    }
    if (event.type == kControlChange && event.param1 == kAllSoundOff) {
        return &channel.at(kKeys);
    }
    if (event.type == kControlChange && event.param1 == kAllNotesOff) {
        return &channel.at(kKeys + 1);
    }
    return nullptr;
}

std::size_t* WaitingEvents::FoldedAt(const ChannelEvent& event) {
    auto& channel = folded_at_.at(event.Channel());
    switch (event.type) {
        case kControlChange:
            return &channel.at(event.Key());  // the controller's number, as a key's
        case kProgramChange:
            return &channel.at(kKeys);
        case kChannelPressure:
            return &channel.at(kKeys + 1);
        case kPitchBend:
            return &channel.at(kKeys + 2);
        default:
            return nullptr;
    }
}

void WaitingEvents::Clear() {
    first_ = 0;
    count_ = 0;
    others_ = 0;
    release_waits_ = {};
    for (auto& channel : folded_at_) {
        channel.fill(kNowhere);
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
