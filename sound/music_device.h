// The platform's music device: plays one MIDI file and tells when a play ends.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace koma::sound {

// A failure of the sound layer; the message is for the player, in Japanese, UTF-8.
class SoundError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What the player is told when a failure has no better description.
inline constexpr char kUnknownError[] = "原因不明のエラー";

// How a play ended: it reached the end, or a stop interrupted it.
enum class NotifyKind { kSuccessful, kAborted };

class MusicDevice {
  public:
    // Called once for each play: kSuccessful when it reached the end, kAborted when a stop
    // interrupted it. A Play() while a play is outstanding carries that one on and adds no call
    // of its own. It may be called on any thread (the audio thread, or inside Stop()).
    using NotifyHandler = std::function<void(NotifyKind)>;

    MusicDevice() = default;
    MusicDevice(const MusicDevice&) = delete;
    MusicDevice& operator=(const MusicDevice&) = delete;
    virtual ~MusicDevice() = default;

    // Opens the file after every check that costs next to nothing; throws SoundError describing
    // the cause when one fails. Makes nothing that sounds.
    virtual void Open(const std::string& path, NotifyHandler notify) = 0;
    // Makes what playing needs (the audio output, the synthesiser, the sound font) unless it is
    // there already; throws SoundError with a cause the player understands when it cannot.
    virtual void Prepare() = 0;
    // Starts playing from the current position and returns at once.
    virtual void Play() = 0;
    // Stops and returns once stopped; the position stays.
    virtual void Stop() = 0;
    // Moves the position to the start; starts nothing.
    virtual void SeekToStart() = 0;
    // Position and length in one unit (the player's ticks). The position never exceeds the
    // length.
    virtual long Position() const = 0;
    virtual long Length() const = 0;
};

}  // namespace koma::sound
