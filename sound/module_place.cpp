// Where the game binary loads its sound module from: compiled once for each game binary, with
// KOMA_SOUND_MODULE_PATH set by the build to that binary's one place.
#include "sound/sound_module.h"

namespace koma::sound {

std::string InstalledModulePath() {
    return KOMA_SOUND_MODULE_PATH;
}

}  // namespace koma::sound
