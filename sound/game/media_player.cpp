#include "sound/game/media_player.h"

#include <utility>

namespace koma::sound {

MediaPlayer::MediaPlayer(std::string file_name, DeviceFactory factory)
    : file_name_(std::move(file_name)), factory_(std::move(factory)) {}

MediaPlayer::~MediaPlayer() {
    if (IsOpen()) {
        Close();
    }
}

void MediaPlayer::SetNotifyHandler(MusicDevice::NotifyHandler handler) {
    notify_ = std::move(handler);
}

void MediaPlayer::Open() {
    if (IsOpen()) {
        Close();
    }
    std::unique_ptr<MusicDevice> device = factory_();
    if (device == nullptr) {
        throw SoundError(kUnknownError);
    }
    // The device gets its own copy of the handler: it may call it on another thread.
    device->Open(file_name_, notify_);
    device_ = std::move(device);
}

void MediaPlayer::Play() {
    RequireDevice();
    device_->Prepare();
    try {
        // Auto-rewind: a piece that has played to its end starts again from the beginning.
        if (device_->Position() == device_->Length()) {
            device_->SeekToStart();
        }
        device_->Play();
    } catch (const SoundError&) {
        // The device's own errors pass silently; a failed play just sends no notification.
    }
}

void MediaPlayer::Stop() {
    RequireDevice();
    try {
        device_->Stop();
    } catch (const SoundError&) {
        // Ignored, like every device error after the open.
    }
}

void MediaPlayer::Rewind() {
    RequireDevice();
    device_->Prepare();
    try {
        device_->SeekToStart();
    } catch (const SoundError&) {
        // Ignored, like every device error after the open.
    }
}

void MediaPlayer::Close() {
    // Destroying the device ends any music; it sends no notification.
    device_.reset();
}

void MediaPlayer::RequireDevice() const {
    if (!IsOpen()) {
        throw SoundError("MCI デバイスがありません");
    }
}

}  // namespace koma::sound
