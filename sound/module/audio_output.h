// The sound card as the program sees it: SDL's audio and SDL2_mixer's output. Opened only when
// something is to sound, and closed again once nothing does, so a silent game holds no device.
//
// A thread of its own, the output's keeper, owns the output's life: while it runs, it alone
// calls SDL and SDL2_mixer (SDL's audio thread aside, which calls back into the music and the
// mix's end). A sound server that stops answering (stopped, swapped out, hung) holds SDL's open
// and close for as long as it is away; only the keeper waits for it then. The caller asks and
// waits for the answer at most a second, and not at all while an earlier request is still
// unanswered or the device has stopped asking for sound, so the window never waits on a
// server. The keeper is started for a request when none runs and ends once it has answered
// everything, so an idle output costs no thread; where no thread can be had (a process limit),
// the caller does the work itself, as before there was a keeper.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

struct SDL_Thread;

namespace koma::sound {

class AudioOutput {
  public:
    // Renders the music into the output's buffer, on the audio thread.
    class MusicSource {
      public:
        // `frames` interleaved stereo frames, already filled with silence.
        virtual void Render(std::int16_t* samples, int frames) = 0;
        // Whether anything of it can still be heard (a play, or the reverb's tail). Any thread.
        virtual bool IsSounding() const = 0;

      protected:
        MusicSource() = default;
        MusicSource(const MusicSource&) = default;
        MusicSource& operator=(const MusicSource&) = default;
        ~MusicSource() = default;
    };

    // Work done on the keeper's thread: `open` tells whether the output is open, `openings`
    // how many times it has been opened (what was converted for one opening may not fit the
    // next).
    using Work = std::function<void(bool open, int openings)>;

    AudioOutput();  // opens nothing, starts nothing
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;
    // Closes the output, which silences everything still playing through it. Waits for the
    // close as Close() does; a keeper still waiting on a server is left to finish alone.
    ~AudioOutput();

    // Opens the output unless it is open and its device is still there, at 44.1 kHz for the
    // first opening (or what the device chooses), at that first rate ever after: the music
    // is rendered for it. Throws SoundError saying, in the player's words, why there is no
    // sound output: the opening failed, or the run's first opening got no answer in time.
    // Without an answer in time after a first opening succeeded, returns with the output
    // still being opened: it sounds once the server answers.
    void Open();
    // Closes the output if it is open and neither an effect nor the music can be heard any
    // more, or its device is gone; true when the keeper answers that it is closed. False while
    // something sounds or the keeper has no answer yet: ask again later.
    bool CloseIfSilent();
    void Close();
    // Asks for the output open, then runs `work` on the keeper's thread: at once when the keeper
    // answers in time, else whenever the server lets it. `work` runs also when the output could
    // not be opened or was closed meanwhile (`open` false).
    void Use(Work work);
    // Runs `work` on the keeper's thread after everything asked before; asks for nothing.
    void After(Work work);

    // Whether the output was open at the keeper's last answer.
    bool IsOpen() const;
    // Frames per second of the output, fixed by the run's first opening; 0 before it.
    int SampleRate() const;

    // The music plays through the output whenever it is open, from now on; Remove waits for a
    // render in progress, after which the source is no longer called. Neither waits on SDL.
    void SetMusic(MusicSource* music);
    void RemoveMusic(const MusicSource* music);

    static constexpr int kChannels = 2;  // everything rendered for it is interleaved stereo

  private:
    enum class Want { kOpen, kClosed, kClosedIfSilent };
    class Device;
    struct Shared;

    enum class Answer { kGiven, kLate, kNotAwaited };
    // Hands the keeper a request (`change` sets what is asked for, under the shared lock) and
    // waits for its answer, unless the keeper is still busy with an earlier one or the device
    // has stopped asking for sound: then it is waiting on a server. Without a thread for the
    // keeper, serves the request itself.
    template <typename Change>
    Answer Ask(const Change& change);
    bool StartKeeper(std::unique_lock<std::mutex>& lock);
    static int Keep(void* handed);  // the keeper's thread
    // Serves what is asked, while anything is; `lock` (of `shared`) is held on entry and on
    // return.
    static void ServeAll(Shared& shared, std::unique_lock<std::mutex>& lock);
    // Nothing is open, and no keeper runs.
    bool Unused() const;

    // Shared with the keeper's thread, which may outlive this object (see the destructor).
    std::shared_ptr<Shared> shared_;
    SDL_Thread* keeper_ = nullptr;
};

}  // namespace koma::sound
