#include "sound/module/audio_output.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "sound/music_device.h"

namespace koma::sound {
namespace {

constexpr int kRequestedRate = 44100;
// About 46 ms per buffer: short enough for a prompt restart of the music. Each buffer wakes the
// audio thread with cold caches, which costs more than the rendering itself: half as many as
// with 23 ms keep the playing music under 1 % of a core.
constexpr int kBufferFrames = 2048;
constexpr int kEffectChannels = 4;
// SDL keeps at most this many devices open, numbered from 1.
constexpr std::uint32_t kMaxDevices = 16;
// Some forty buffers: a device that has asked for nothing for this long is gone, even on a
// machine too busy to run its audio thread on time.
constexpr std::int64_t kStalledNs = 2'000'000'000;
// A server that answers at all opens or closes an output in milliseconds, also on a busy
// machine; one that has not answered by then is left to the keeper.
constexpr auto kAnswerWait = std::chrono::seconds(1);

// SDL's own reason names drivers and devices; the player needs to know what to look at.
constexpr char kNoOutput[] = "音を出せません (デスクトップのサウンドサーバーは動いていますか?)";

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// The output itself: SDL's audio and the mixer. Used by one thread at a time: the keeper while
// one runs, else the caller (see Shared).
class AudioOutput::Device {
  public:
    explicit Device(Shared& shared) : shared_(shared) {}

    // Does what `want` asks for, after closing an output whose device has gone.
    void Serve(Want want);
    bool open() const { return open_; }
    int rate() const { return rate_; }
    int openings() const { return openings_; }

  private:
    void Open();
    void Close();
    bool IsDeviceThere() const;
    bool IsSilent() const;
    static void RenderMusic(void* shared, Uint8* stream, int bytes);
    static void NoteMixed(void* shared, Uint8* stream, int bytes);

    Shared& shared_;
    bool open_ = false;
    int rate_ = 0;  // of the run's first opening
    int openings_ = 0;
    std::uint32_t device_ = 0;  // SDL's id of the mixer's device; 0: not known
};

// What the caller (the game's thread), the keeper and SDL's audio thread share, and its rule:
// - The caller writes the requests and reads the answers, the keeper the other way round, both
//   under `lock`; neither calls into SDL while holding it.
// - `device`, and with it every call into SDL and the mixer but the callbacks, belongs to the
//   keeper while `keeping`, else to the caller, who starts a keeper only while none runs.
// - `music` is written by the caller and read by the audio thread (each buffer) and the keeper
//   (is it silent?), under `render_lock`. The audio thread holds it across a render, so
//   RemoveMusic waits for at most one; nothing holding it waits on SDL or on `lock`.
// - `mixed_at` is atomic: written by the audio thread after each mix, read by the other two.
struct AudioOutput::Shared {
    std::mutex lock;
    std::condition_variable answered_changed;
    // The caller's requests: the latest one wins, the work runs in its order.
    std::uint64_t asked = 0;  // requests made
    Want want = Want::kClosed;
    std::vector<Work> work;
    // The answers, as of the request numbered `answered`.
    std::uint64_t answered = 0;
    bool open = false;
    int rate = 0;
    bool keeping = false;  // a keeper runs, and has `device`

    Device device{*this};
    std::mutex render_lock;
    MusicSource* music = nullptr;
    std::atomic<std::int64_t> mixed_at{0};

    bool Unanswered() const { return answered < asked; }
    // Open, but its device has asked for nothing for a while: its server has stopped, or gone.
    bool Stalled() const { return open && Now() - mixed_at >= kStalledNs; }
};

void AudioOutput::ServeAll(Shared& shared, std::unique_lock<std::mutex>& lock) {
    while (shared.Unanswered()) {
        const std::uint64_t asked = shared.asked;
        const Want want = shared.want;
        std::vector<Work> work;  // swapped, not copied: nothing is allocated here
        work.swap(shared.work);
        lock.unlock();
        shared.device.Serve(want);
        for (Work& each : work) {
            try {
                each(shared.device.open(), shared.device.openings());
            } catch (...) {
                // Work here is a sound no one waits for: without it, nothing is heard.
            }
        }
        work.clear();  // what it holds is let go here, where the output is used
        lock.lock();
        shared.answered = asked;
        shared.open = shared.device.open();
        shared.rate = shared.device.rate();
        shared.answered_changed.notify_all();
    }
}

void AudioOutput::Device::Serve(Want want) {
    if (open_ && !IsDeviceThere()) {
        Close();  // a device that has gone comes back only when opened anew
    }
    switch (want) {
        case Want::kOpen:
            if (!open_) {
                Open();
            }
            break;
        case Want::kClosed:
            Close();
            break;
        case Want::kClosedIfSilent:
            if (open_ && IsSilent()) {
                Close();
            }
            break;
    }
}

void AudioOutput::Device::Open() {
    // Otherwise SDL turns SIGINT and SIGTERM into quit events that a Qt program never reads,
    // and the program no longer ends on them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        return;
    }
    // Format and channel count are fixed so that the music can be rendered straight into the
    // buffer; SDL converts if the card wants something else. The first device may choose the
    // rate; later ones get it, so that the music rendered for it never has to wait for a
    // reopening to tell it another.
    const int asked_rate = rate_ > 0 ? rate_ : kRequestedRate;
    const int changes = rate_ > 0 ? 0 : SDL_AUDIO_ALLOW_FREQUENCY_CHANGE;
    int rate = 0;
    if (Mix_OpenAudioDevice(asked_rate, AUDIO_S16SYS, kChannels, kBufferFrames, nullptr, changes) !=
        0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    if (Mix_QuerySpec(&rate, nullptr, nullptr) == 0 || rate <= 0 || (rate_ > 0 && rate != rate_)) {
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    Mix_AllocateChannels(kEffectChannels);
    // The mixer does not say which device it opened; it is the only one the game opens, and
    // the mixer has started it.
    device_ = 0;
    for (std::uint32_t id = 1; id <= kMaxDevices && device_ == 0; ++id) {
        if (SDL_GetAudioDeviceStatus(id) != SDL_AUDIO_STOPPED) {
            device_ = id;
        }
    }
    open_ = true;
    rate_ = rate;
    ++openings_;
    shared_.mixed_at = Now();
    Mix_SetPostMix(&NoteMixed, &shared_);
    Mix_HookMusic(&RenderMusic, &shared_);
}

void AudioOutput::Device::Close() {
    if (!open_) {
        return;
    }
    // The music first: closing the mixer while it renders would pull the buffer from under it.
    Mix_HookMusic(nullptr, nullptr);
    Mix_SetPostMix(nullptr, nullptr);
    // Waits for SDL's audio thread, which waits for the server.
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    open_ = false;
}

bool AudioOutput::Device::IsDeviceThere() const {
    // SDL's PipeWire driver never reports a server that has ended: its device only stops asking
    // for sound, and its thread would wait for the old server for ever.
    return Now() - shared_.mixed_at < kStalledNs &&
           (device_ == 0 || SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_STOPPED);
}

bool AudioOutput::Device::IsSilent() const {
    if (Mix_Playing(-1) > 0) {
        return false;
    }
    const std::lock_guard lock(shared_.render_lock);
    return shared_.music == nullptr || !shared_.music->IsSounding();
}

void AudioOutput::Device::RenderMusic(void* shared, Uint8* stream, int bytes) {
    auto& self = *static_cast<Shared*>(shared);
    const int frames = bytes / (kChannels * static_cast<int>(sizeof(std::int16_t)));
    const std::lock_guard lock(self.render_lock);
    if (self.music != nullptr) {
        self.music->Render(reinterpret_cast<std::int16_t*>(stream), frames);
    }
}

void AudioOutput::Device::NoteMixed(void* shared, Uint8* /*stream*/, int /*bytes*/) {
    static_cast<Shared*>(shared)->mixed_at = Now();
}

// ---- The caller's side ----

AudioOutput::AudioOutput() : shared_(std::make_shared<Shared>()) {}

AudioOutput::~AudioOutput() {
    Close();
    std::unique_lock lock(shared_->lock);
    // A keeper still waiting on a server is left to close the output, and end, once it lets it.
    const auto patience = shared_->Unanswered() ? std::chrono::seconds(0) : kAnswerWait;
    const bool ended =
        shared_->answered_changed.wait_for(lock, patience, [this] { return !shared_->keeping; });
    lock.unlock();
    if (keeper_ != nullptr) {
        if (ended) {
            SDL_WaitThread(keeper_, nullptr);
        } else {
            SDL_DetachThread(keeper_);
        }
    }
}

// An SDL thread, not a std::thread: SDL keeps a little per thread (its error message), and frees
// it when a thread of its own ends.
bool AudioOutput::StartKeeper(std::unique_lock<std::mutex>& lock) {
    if (keeper_ != nullptr) {
        // The last one has answered everything and is returning.
        lock.unlock();
        SDL_WaitThread(keeper_, nullptr);
        keeper_ = nullptr;
        lock.lock();
    }
    auto* const handed = new (std::nothrow) std::shared_ptr<Shared>(shared_);
    shared_->keeping = true;
    keeper_ = handed != nullptr ? SDL_CreateThread(&Keep, "koma-output", handed) : nullptr;
    if (keeper_ == nullptr) {
        delete handed;
        shared_->keeping = false;
    }
    return shared_->keeping;
}

int AudioOutput::Keep(void* handed) {
    const std::unique_ptr<std::shared_ptr<Shared>> owner(
        static_cast<std::shared_ptr<Shared>*>(handed));
    Shared& shared = **owner;
    std::unique_lock lock(shared.lock);
    ServeAll(shared, lock);
    shared.keeping = false;  // it is idle: a thread less while the output plays
    shared.answered_changed.notify_all();
    return 0;
}

template <typename Change>
AudioOutput::Answer AudioOutput::Ask(const Change& change) {
    std::unique_lock lock(shared_->lock);
    const bool waits = !shared_->Unanswered() && !shared_->Stalled();
    change(*shared_);
    const std::uint64_t ticket = ++shared_->asked;
    if (!shared_->keeping && !StartKeeper(lock)) {
        // No thread to be had (a process limit): the output is used from here, as before there
        // was a keeper, and may wait on its server.
        ServeAll(*shared_, lock);
        return Answer::kGiven;
    }
    if (!waits) {
        return Answer::kNotAwaited;
    }
    return shared_->answered_changed.wait_for(lock, kAnswerWait,
                                              [&] { return shared_->answered >= ticket; })
               ? Answer::kGiven
               : Answer::kLate;
}

bool AudioOutput::Unused() const {
    const std::lock_guard lock(shared_->lock);
    return !shared_->keeping && !shared_->open;
}

void AudioOutput::Open() {
    const Answer answer = Ask([](Shared& shared) { shared.want = Want::kOpen; });
    std::unique_lock lock(shared_->lock);
    if (answer == Answer::kGiven && !shared_->open) {
        // SDL's audio thread may be the one too many beside the keeper's (a limit on processes):
        // once the keeper has ended, the caller tries once more itself.
        if (shared_->answered_changed.wait_for(lock, kAnswerWait,
                                               [this] { return !shared_->keeping; })) {
            lock.unlock();
            if (keeper_ != nullptr) {
                SDL_WaitThread(keeper_, nullptr);
                keeper_ = nullptr;
            }
            lock.lock();
            ++shared_->asked;
            ServeAll(*shared_, lock);
        }
        if (!shared_->open) {
            throw SoundError(kNoOutput);
        }
    }
    if (shared_->rate == 0) {
        // The run's first opening is not done: without its rate nothing can be made to play,
        // and the server does not answer. Asked again at the next sound on.
        lock.unlock();
        Close();
        throw SoundError(kNoOutput);
    }
}

bool AudioOutput::CloseIfSilent() {
    if (Unused()) {
        return true;
    }
    const Answer answer = Ask([](Shared& shared) { shared.want = Want::kClosedIfSilent; });
    // Without an answer the caller asks again later: what still sounds once the server is
    // back is known only then.
    const std::lock_guard lock(shared_->lock);
    return answer == Answer::kGiven && !shared_->open;
}

void AudioOutput::Close() {
    if (!Unused()) {
        Ask([](Shared& shared) { shared.want = Want::kClosed; });
    }
}

void AudioOutput::Use(Work work) {
    Ask([&work](Shared& shared) {
        shared.want = Want::kOpen;
        shared.work.push_back(std::move(work));
    });
}

void AudioOutput::After(Work work) {
    if (Unused()) {
        work(false, shared_->device.openings());  // no keeper: the output is the caller's
        return;
    }
    Ask([&work](Shared& shared) { shared.work.push_back(std::move(work)); });
}

bool AudioOutput::IsOpen() const {
    const std::lock_guard lock(shared_->lock);
    return shared_->open;
}

int AudioOutput::SampleRate() const {
    const std::lock_guard lock(shared_->lock);
    return shared_->rate;
}

void AudioOutput::SetMusic(MusicSource* music) {
    const std::lock_guard lock(shared_->render_lock);
    shared_->music = music;
}

void AudioOutput::RemoveMusic(const MusicSource* music) {
    const std::lock_guard lock(shared_->render_lock);
    if (shared_->music == music) {
        shared_->music = nullptr;
    }
}

}  // namespace koma::sound
