#include "sound/checks/memory_room.h"

#include <dirent.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>

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

bool HasDescriptorsFor(int count) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return true;
    }
    // Counted, not taken: another thread may be opening one right now.
    DIR* const open_now = opendir("/proc/self/fd");
    if (open_now == nullptr) {
        return errno != EMFILE && errno != ENFILE;
    }
    rlim_t taken = 0;
    while (const dirent* const entry = readdir(open_now)) {
        char* end = nullptr;
        const unsigned long number = std::strtoul(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && number < limit.rlim_cur &&
            number != static_cast<unsigned long>(dirfd(open_now))) {
            ++taken;
        }
    }
    closedir(open_now);
    return limit.rlim_cur - taken >= static_cast<rlim_t>(count);
}

}  // namespace koma::sound
