// The music player the window uses: one file, opened once, played with a notification per play.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sound/music_device.h"

namespace koma::sound {

class MediaPlayer {
  public:
    using DeviceFactory = std::function<std::unique_ptr<MusicDevice>()>;

    MediaPlayer(std::string file_name, DeviceFactory factory);
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;
    // Closes the device if one is open, which ends any music.
    ~MediaPlayer();

    // Receives every notification; may be called on any thread.
    void SetNotifyHandler(MusicDevice::NotifyHandler handler);

    // Closes an open device first, then opens the file; throws SoundError on failure.
    void Open();
    // Each throws SoundError("MCI デバイスがありません") when no device is open. Rewind and
    // Play also throw when what playing needs cannot be made (no audio output, a broken sound
    // font); any other error of the device passes silently.
    void Play();  // rewinds first when the position equals the length
    void Stop();
    void Rewind();
    void Close();

    bool IsOpen() const { return device_ != nullptr; }

  private:
    void RequireDevice() const;

    std::string file_name_;
    DeviceFactory factory_;
    MusicDevice::NotifyHandler notify_;
    std::unique_ptr<MusicDevice> device_;
};

}  // namespace koma::sound
