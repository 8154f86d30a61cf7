// Where the game binary loads its sound module from, set by the build for each game binary
// (KOMA_SOUND_MODULE_PATH): an absolute place, or a file name beside the binary itself.
#include <filesystem>
#include <system_error>

#include "sound/game/sound_module.h"

namespace koma::sound {

std::string InstalledModulePath() {
    const std::filesystem::path place = KOMA_SOUND_MODULE_PATH;
    if (place.is_absolute()) {
        return place.string();
    }
    std::error_code error;
    const std::filesystem::path binary = std::filesystem::read_symlink("/proc/self/exe", error);
    // Without its own place the name stays relative, and a relative module is never loaded.
    return (error ? place : binary.parent_path() / place).string();
}

}  // namespace koma::sound
