// koma-startup-probe: how long a desktop program takes from exec to its first window being
// mapped, and how much memory it holds at its peak by then.
//
//   koma-startup-probe [--settle MS] PROGRAM [ARGS…]
//
// Needs DISPLAY (an Xvfb is fine). Prints "startup_ms N" and "peak_rss_kib N", then ends the
// program with SIGTERM.
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

// A whole non-negative number, or nothing.
std::optional<long> ParseCount(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < 0) {
        return std::nullopt;
    }
    return value;
}

long PeakRssKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            const char* const number = line.c_str() + 6;  // "VmHWM:   123 kB"
            char* end = nullptr;
            const long kib = std::strtol(number, &end, 10);
            return end == number ? -1 : kib;
        }
    }
    return -1;
}

int Usage() {
    std::fprintf(stderr, "usage: koma-startup-probe [--settle MS] PROGRAM [ARGS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    int first = 1;
    long settle_ms = 1000;
    if (argc > 2 && std::strcmp(argv[1], "--settle") == 0) {
        const std::optional<long> settle = ParseCount(argv[2]);
        if (!settle) {
            std::fprintf(stderr, "koma-startup-probe: --settle wants milliseconds, got '%s'\n",
                         argv[2]);
            return 2;
        }
        settle_ms = *settle;
        first = 3;
    }
    if (first >= argc) {
        return Usage();
    }
    const DisplayHandle display(XOpenDisplay(nullptr));
    if (display == nullptr) {
        std::fprintf(stderr, "koma-startup-probe: cannot open the X display\n");
        return 2;
    }
    XSelectInput(display.get(), DefaultRootWindow(display.get()), SubstructureNotifyMask);
    XSync(display.get(), False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("koma-startup-probe: fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[first], argv + first);
        std::perror("exec");
        _exit(127);
    }
    for (;;) {
        XEvent event;
        XNextEvent(display.get(), &event);
        if (event.type == MapNotify) {
            break;
        }
    }
    const auto mapped = std::chrono::steady_clock::now();
    // Let it finish painting and settle before reading its peak memory.
    std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
    const long peak = PeakRssKib(pid);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);

    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(mapped - start).count();
    std::printf("startup_ms %lld\npeak_rss_kib %ld\n", static_cast<long long>(ms), peak);
    return 0;
}
