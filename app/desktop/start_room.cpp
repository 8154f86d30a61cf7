#include "app/desktop/start_room.h"

#include <sys/resource.h>

#include <latch>
#include <system_error>
#include <thread>

#include "sound/checks/memory_room.h"

namespace koma::app {
namespace {

// Beyond the libraries already mapped at start: Qt, its X11 connection and the window took
// 30 MiB (the start failed with 28 MiB left, not with 31).
constexpr std::size_t kWindowBytes = 32 * sound::kMiB;
// Open files besides those open here. Qt held four more for the window and took one more for
// the notice: with four left the window showed unpainted and waited for ever, with five it
// worked. The rest is for a desktop's session bus, accessibility bus and input method.
constexpr int kWindowDescriptors = 12;
// The stack the game's thread grows to: 132 KiB with the notice, an error box, sound on and the
// computer's solve (fontconfig overran 96 KiB and the game died). Qt's threads get as much.
constexpr rlim_t kWindowStack = 256 << 10;
// Besides the game's own thread: Qt's X11 event reader and its session-bus connection.
constexpr int kQtThreads = 2;

// Whether that many threads can run at once, each with the stack a thread gets by default.
bool CanStartQtThreads() {
    std::latch all_started(kQtThreads + 1);
    std::thread threads[kQtThreads];
    int started = 0;
    try {
        for (std::thread& thread : threads) {
            thread = std::thread([&all_started] { all_started.arrive_and_wait(); });
            ++started;
        }
    } catch (const std::system_error&) {
        // Let those that started end.
    }
    all_started.count_down(kQtThreads + 1 - started);
    for (int i = 0; i < started; ++i) {
        threads[i].join();
    }
    return started == kQtThreads;
}

bool HasStackForWindow() {
    rlimit limit{};
    return getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           limit.rlim_cur >= kWindowStack;
}

}  // namespace

std::string StartRoomProblem() {
    if (!sound::HasRoomFor(kWindowBytes)) {
        return "not enough memory left to start (a limit on the address space?)";
    }
    if (!HasStackForWindow()) {
        return "the stack may not grow large enough to start (a limit on the stack size?)";
    }
    if (!sound::HasDescriptorsFor(kWindowDescriptors)) {
        return "too few files may be opened to start (a limit on open files?)";
    }
    if (!CanStartQtThreads()) {
        return "no more threads may be started (a limit on the number of processes?)";
    }
    return {};
}

}  // namespace koma::app
