// Asking for memory before work that does not survive running out of it.
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

}  // namespace koma::sound
