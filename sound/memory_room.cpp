#include "sound/memory_room.h"

#include <sys/mman.h>

namespace koma::sound {
namespace {

constexpr std::size_t kRoomToGoOn = 16 * kMiB;

}  // namespace

bool HasRoomFor(std::size_t bytes) {
    const std::size_t needed = bytes + kRoomToGoOn;
    // Mapped and never touched: the asking costs no memory, and it meets the same limits as
    // the allocations it stands for.
    void* const room =
        mmap(nullptr, needed, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room == MAP_FAILED) {
        return false;
    }
    munmap(room, needed);
    return true;
}

}  // namespace koma::sound
