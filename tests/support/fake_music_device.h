// A music device for tests: it plays nothing, writes down every operation and lets the test
// decide when a play ends.
//
//     koma::sound::testing::FakeMusicBackend backend;   // outlives the player
//     koma::sound::MediaPlayer player("koma.mid", FakeMusicFactory(backend));
//     player.SetNotifyHandler(...);
//     player.Open();                  // log: "open koma.mid"
//     player.Play();                  // log: "play" (after "seek" when position == length)
//     backend.FinishPlay();           // position = length, handler(kSuccessful)
//     player.Stop();                  // log: "stop", "notify aborted"
//
// Everything runs on the calling thread; nothing here is thread-safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sound/game/media_player.h"
#include "sound/music_device.h"

namespace koma::sound::testing {

inline std::string NotifyName(NotifyKind kind) {
    switch (kind) {
        case NotifyKind::kSuccessful:
            return "successful";
        case NotifyKind::kAborted:
            return "aborted";
    }
    return "?";
}

// What the test sees and steers; shared by every fake device made from it.
struct FakeMusicBackend {
    // Every operation in order: "open <file>", "play", "stop", "seek", "close", and
    // "notify <kind>" each time a handler is called. Position and length reads are not logged.
    std::vector<std::string> log;

    long position = 0;
    long length = 1000;
    bool playing = false;

    // Non-empty: Open throws SoundError with this message (and the device stays closed).
    std::string open_error;
    // Each makes the operation throw SoundError("device error") after logging it.
    bool fail_play = false;
    bool fail_stop = false;
    bool fail_seek = false;

    // Non-empty: Prepare (what Rewind and Play of the player call first) throws SoundError with
    // this message, as a device does that cannot make its sound.
    std::string prepare_error;
    int prepares = 0;

    int devices_made = 0;
    int devices_open = 0;

    // Ends the current play at the end of the piece: position = length, handler(kSuccessful).
    // Returns false (and does nothing) when nothing is playing.
    bool FinishPlay() {
        if (!playing) {
            return false;
        }
        playing = false;
        position = length;
        Notify(NotifyKind::kSuccessful);
        return true;
    }

    void ClearLog() { log.clear(); }

    MusicDevice::NotifyHandler handler;  // of the device opened last

    void Notify(NotifyKind kind) {
        log.push_back("notify " + NotifyName(kind));
        if (handler) {
            handler(kind);
        }
    }
};

class FakeMusicDevice : public MusicDevice {
  public:
    explicit FakeMusicDevice(FakeMusicBackend& backend) : backend_(backend) {
        ++backend_.devices_made;
    }
    ~FakeMusicDevice() override {
        if (open_) {
            backend_.log.push_back("close");
            backend_.playing = false;
            --backend_.devices_open;
        }
    }

    void Open(const std::string& path, NotifyHandler notify) override {
        backend_.log.push_back("open " + path);
        if (!backend_.open_error.empty()) {
            throw SoundError(backend_.open_error);
        }
        open_ = true;
        ++backend_.devices_open;
        backend_.handler = std::move(notify);
        backend_.playing = false;
    }
    void Prepare() override {
        ++backend_.prepares;
        if (!backend_.prepare_error.empty()) {
            throw SoundError(backend_.prepare_error);
        }
    }
    void Play() override {
        Operation("play", backend_.fail_play);
        backend_.playing = true;
    }
    void Stop() override {
        Operation("stop", backend_.fail_stop);
        if (!backend_.playing) {
            return;
        }
        backend_.playing = false;
        backend_.Notify(NotifyKind::kAborted);
    }
    void SeekToStart() override {
        Operation("seek", backend_.fail_seek);
        backend_.position = 0;
    }
    long Position() const override { return backend_.position; }
    long Length() const override { return backend_.length; }

  private:
    void Operation(const std::string& name, bool fail) {
        backend_.log.push_back(name);
        if (fail) {
            throw SoundError("device error");
        }
    }

    FakeMusicBackend& backend_;
    bool open_ = false;
};

// A factory for MediaPlayer that makes fake devices on `backend`.
inline MediaPlayer::DeviceFactory FakeMusicFactory(FakeMusicBackend& backend) {
    return [&backend] { return std::make_unique<FakeMusicDevice>(backend); };
}

}  // namespace koma::sound::testing
