// The sound module's file, looked at before the loader sees it. The loader maps whatever it is
// given: a pipe would hang it, a file cut short would crash the game at the first touch of a
// missing page, and a file that others may write would run their code in the game.
#pragma once

#include <string>

namespace koma::sound {

// Empty when the file at `path` may be loaded; otherwise why not, in the player's words. It must
// be named by an absolute path and be a plain file of this computer's kind of shared object,
// whole, and neither it nor any folder above it may be written by anyone but its owner, who is
// root or the player.
std::string ModuleFileProblem(const std::string& path);

}  // namespace koma::sound
