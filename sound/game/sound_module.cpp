#include "sound/game/sound_module.h"

#include <dlfcn.h>

#include <optional>
#include <utility>

#include "sound/checks/memory_room.h"
#include "sound/game/module_file.h"

namespace koma::sound {
namespace {

constexpr std::size_t kModuleRoom = 16 * kMiB;

std::string LoadError() {
    const char* const error = dlerror();
    return error != nullptr ? error : kUnknownError;
}

class ModuleMusicDevice final : public MusicDevice {
  public:
    ModuleMusicDevice(SoundModule& module, std::string soundfont)
        : module_(module), soundfont_(std::move(soundfont)) {}

    void Open(const std::string& path, NotifyHandler notify) override {
        device_.reset();
        music_.reset();
        music_ = CheckMusic(path, soundfont_);
        notify_ = std::move(notify);
    }
    void Prepare() override {
        if (device_ == nullptr) {
            if (!music_) {
                throw SoundError("音楽が開かれていません");
            }
            if (!HasDescriptorsFor(kSoundDescriptors)) {
                throw SoundError(std::string("音を出せません (") + kNoDescriptors + ")");
            }
            SoundSystem* const system = module_.Load();
            if (system == nullptr) {
                module_.ReportFailure();
                return;
            }
            device_ = system->OpenMusic(*music_, notify_);
            music_.reset();  // the device has its own copy
        }
        device_->Prepare();
    }
    void Play() override {
        Prepare();
        if (device_ != nullptr) {
            device_->Play();
        }
    }
    void Stop() override {
        if (device_ != nullptr) {
            device_->Stop();
        }
    }
    void SeekToStart() override {
        if (device_ != nullptr) {
            device_->SeekToStart();
        }
    }
    // Nothing has played before the device is made: the position is at the start.
    long Position() const override { return device_ != nullptr ? device_->Position() : 0; }
    long Length() const override {
        return device_ != nullptr ? device_->Length() : music_ ? music_->length : 0;
    }

  private:
    SoundModule& module_;
    const std::string soundfont_;
    std::optional<CheckedMusic> music_;  // until the device is made
    NotifyHandler notify_;
    std::unique_ptr<MusicDevice> device_;
};

}  // namespace

SoundModule::SoundModule(std::string path) : path_(std::move(path)) {}

SoundModule::~SoundModule() = default;

SoundSystem* SoundModule::Load() {
    if (tried_) {
        return system_.get();
    }
    // Its libraries take about 13 MiB; without room for them the next sound on tries again.
    if (!HasRoomFor(kModuleRoom)) {
        failure_ = kNoMemory;
        return nullptr;
    }
    tried_ = true;
    // Bound at once, so that a missing library or symbol shows here rather than in the middle
    // of the music; kept to itself, so that its libraries' names do not mix with the game's.
    // Never closed, whatever happens next (see the destructor).
    ModuleFile file(path_);
    void* const handle = file.Load(RTLD_NOW | RTLD_LOCAL, failure_);
    if (handle == nullptr) {
        return nullptr;
    }
    // Nothing of a module built for another layout of the interface may be called.
    const auto* const version =
        static_cast<const int*>(dlsym(handle, kSoundInterfaceVersionSymbol));
    if (version == nullptr || *version != kSoundInterfaceVersion) {
        failure_ = "「" + path_ + "」は別の版のモジュールです";
        return nullptr;
    }
    auto* const make =
        reinterpret_cast<MakeSoundSystemFunction*>(dlsym(handle, kMakeSoundSystemSymbol));
    if (make == nullptr) {
        failure_ = LoadError();
        return nullptr;
    }
    system_.reset(make());
    if (system_ == nullptr) {
        failure_ = kUnknownError;
    }
    return system_.get();
}

void SoundModule::ReportFailure() {
    if (!failure_.empty()) {
        throw SoundError("音を出せません (サウンドモジュールを読み込めません: " +
                         std::exchange(failure_, {}) + ")");
    }
}

std::unique_ptr<MusicDevice> MakeModuleMusicDevice(SoundModule& module, std::string soundfont) {
    return std::make_unique<ModuleMusicDevice>(module, std::move(soundfont));
}

}  // namespace koma::sound
