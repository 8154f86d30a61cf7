#include "app/start_room.h"

#include <latch>
#include <system_error>
#include <thread>

#include "sound/memory_room.h"

namespace koma::app {
namespace {

// Beyond the libraries already mapped at start: Qt, its X11 connection and the window took
// 30 MiB (the start failed with 28 MiB left, not with 31).
constexpr std::size_t kWindowBytes = 32 * sound::kMiB;
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

}  // namespace

std::string StartRoomProblem() {
    if (!sound::HasRoomFor(kWindowBytes)) {
        return "not enough memory left to start (a limit on the address space?)";
    }
    if (!CanStartQtThreads()) {
        return "no more threads may be started (a limit on the number of processes?)";
    }
    return {};
}

}  // namespace koma::app
