// Asking for memory, and for open files, before work that does not survive running out of them.
#pragma once

#include <cstddef>

namespace koma::sound {

inline constexpr std::size_t kMiB = std::size_t{1} << 20;
// The player's words for a sound refused for want of memory.
inline constexpr char kNoMemory[] = "メモリが足りません";

// Whether `bytes` of memory, and enough besides for the game to go on with, can still be had.
// Loading the sound libraries, making a synthesiser and loading a sound font crash the game
// when an allocation fails at the wrong moment (a small address-space limit, a strict commit
// limit), and a game left without a megabyte cannot even show a box; so that room is asked for
// first, and the sound is refused like any other sound failure without it.
bool HasRoomFor(std::size_t bytes);

// The player's words for a sound refused for want of open files.
inline constexpr char kNoDescriptors[] = "開いているファイルが多すぎます";

// Whether `count` more files may still be open at once under the limit on open files (which
// counts descriptors by number, from 0); true when that cannot be told.
bool HasDescriptorsFor(int count);

}  // namespace koma::sound
