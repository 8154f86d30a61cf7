// A music device for tests: it plays nothing, writes down every operation and lets the test
// decide when a play ends.
//
//     koma::sound::testing::FakeMusicBackend backend;   // outlives the player
//     koma::sound::MediaPlayer player("koma.mid", FakeMusicFactory(backend));
//     player.SetNotifyHandler(...);
//     player.Open();                  // log: "open koma.mid"
//     player.Play();                  // log: "play" (after "seek" when position == length)
//     backend.FinishPlay();           // position = length, handler(Successful)
//     backend.deliver_aborted_at_once = false;
//     player.Stop();                  // log: "stop"; the Aborted notification is held...
//     backend.DeliverHeld();          // ...until the test delivers it
//
// Everything runs on the calling thread; nothing here is thread-safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sound/media_player.h"
#include "sound/music_device.h"

namespace koma::sound::testing {

inline std::string NotifyName(NotifyKind kind) {
    switch (kind) {
        case NotifyKind::Successful:
            return "successful";
        case NotifyKind::Superseded:
            return "superseded";
        case NotifyKind::Aborted:
            return "aborted";
        case NotifyKind::Failure:
            return "failure";
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

    // Stop() while playing: true calls the handler with Aborted inside Stop(); false keeps the
    // notification for DeliverHeld(), so it can arrive after other events, as a queue would.
    bool deliver_aborted_at_once = true;

    int devices_made = 0;
    int devices_open = 0;

    // Ends the current play at the end of the piece: position = length, handler(Successful).
    // Returns false (and does nothing) when nothing is playing.
    bool FinishPlay() {
        if (!playing) {
            return false;
        }
        playing = false;
        position = length;
        Notify(NotifyKind::Successful);
        return true;
    }

    // Delivers the oldest held notification; false when none is held.
    bool DeliverHeld() {
        if (held.empty()) {
            return false;
        }
        const NotifyKind kind = held.front();
        held.erase(held.begin());
        Notify(kind);
        return true;
    }

    void ClearLog() { log.clear(); }

    std::vector<NotifyKind> held;
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
        if (backend_.deliver_aborted_at_once) {
            backend_.Notify(NotifyKind::Aborted);
        } else {
            backend_.held.push_back(NotifyKind::Aborted);
        }
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
