// The sound module's file, opened once, looked at through what was opened, and loaded from
// that: what its name points at may change between the look and the load, what is open does
// not. The loader maps whatever it is given: a pipe would hang it, a file cut short would crash
// the game at the first touch of a missing page, and a file that others may write would run
// their code in the game.
#pragma once

#include <memory>
#include <string>

#include "sound/checks/plain_file.h"

namespace koma::sound {

class ModuleFile {
  public:
    // Opens the file at `path` and looks at it.
    explicit ModuleFile(std::string path);

    // Empty when the file may be loaded; otherwise why not, in the player's words. It must be
    // named by an absolute path and be a plain file of this computer's kind of shared object,
    // whole. It, every folder on the way to it and every link followed there belong to root or
    // the player, and nobody else may write the file or those folders, by the mode bits or by
    // an ACL: in a folder with the sticky bit (/tmp) others may add names but not change ours,
    // and a group may write only where it is the owner's own group, which no other user has.
    const std::string& problem() const { return problem_; }

    // Loads the file that was looked at, with dlopen's `flags`, whatever its name holds by now:
    // the handle, or nullptr with `error` saying why not. A module already loaded is handed
    // back, not loaded twice.
    void* Load(int flags, std::string& error);

  private:
    std::string path_;
    std::unique_ptr<PlainFile> file_;  // while it may be loaded
    std::string problem_;
};

}  // namespace koma::sound
