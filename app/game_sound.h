// The game's sound as the window is given it: the music checked at start-up, and everything
// that makes sound in the sound module, loaded when sound is first wanted. The game and its
// tests wire it the same way.
#pragma once

#include <string>

#include "app/form1.h"
#include "sound/game/sound_module.h"

namespace koma::app {

class GameSound {
  public:
    // `module`: the sound module's file; `soundfont` empty: the default one.
    explicit GameSound(std::string module = sound::InstalledModulePath(),
                       std::string soundfont = {});

    // Puts the music device, the fanfare and the release of the output into `options`. This
    // object must outlive the window built with them.
    void Wire(FormOptions& options);

  private:
    sound::SoundModule module_;
    std::string soundfont_;
};

}  // namespace koma::app
