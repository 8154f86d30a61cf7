// The sound card as the program sees it: SDL's audio and SDL2_mixer's output. Opened only when
// something is to sound, and closed again once nothing does, so a silent game holds no device.
#pragma once

#include <atomic>
#include <cstdint>

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

    AudioOutput() = default;  // opens nothing
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;
    // Closes the output, which silences everything still playing through it.
    ~AudioOutput();

    // Opens the output (44.1 kHz, stereo, 16 bit) unless it is open and its device is still
    // there; throws SoundError saying, in the player's words, why there is no sound output.
    void Open();
    // Closes the output if it is open and neither an effect nor the music can be heard any
    // more, or its device is gone; true when it is closed afterwards.
    bool CloseIfSilent();
    void Close();

    bool IsOpen() const { return open_; }
    // Frames per second of the opened output; 0 when closed.
    int SampleRate() const { return sample_rate_; }
    // Counts the openings: what was converted for one opening may not fit the next.
    int Openings() const { return openings_; }

    // The music plays through the output whenever it is open, from now on; Remove waits for a
    // render in progress, after which the source is no longer called.
    void SetMusic(MusicSource* music);
    void RemoveMusic(const MusicSource* music);

    static constexpr int kChannels = 2;  // everything rendered for it is interleaved stereo

  private:
    void Hook() const;
    // False once the device has gone (its sound server ended): what is mixed for it then is
    // never heard, and it does not come back by itself.
    bool IsDeviceThere() const;
    static void NoteMixed(void* output, std::uint8_t* stream, int bytes);

    bool open_ = false;
    int sample_rate_ = 0;
    int openings_ = 0;
    std::uint32_t device_ = 0;  // SDL's id of the mixer's device; 0: not known
    MusicSource* music_ = nullptr;
    // When the device last asked for a buffer, in steady-clock nanoseconds.
    std::atomic<std::int64_t> mixed_at_{0};
};

}  // namespace koma::sound
