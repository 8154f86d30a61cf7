// koma-startup-probe: how long desktop programs take from exec to their first window being
// mapped, and how much memory each holds at its peak by then.
//
//   koma-startup-probe [--settle MS] PROGRAM [ARGS…]
//       prints "startup_ms N" and "peak_rss_kib N"
//   koma-startup-probe [--settle MS] --rounds N PROGRAM [ARGS…] [--then PROGRAM [ARGS…]]…
//       starts the programs in turn, N rounds, each round beginning one program further on so
//       that none is always first; prints every start, then each program's medians
//
// Needs DISPLAY (an Xvfb is fine). Each program is ended with SIGTERM once measured.
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

struct Start {
    long ms;
    long peak_kib;
};

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

// Starts `program` (a null-terminated argument list), waits for a window to be mapped, lets it
// settle, reads its peak memory and ends it.
std::optional<Start> Measure(Display* display, char** program, long settle_ms) {
    // Whatever an earlier program mapped is not this one's window.
    XSync(display, True);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("koma-startup-probe: fork");
        return std::nullopt;
    }
    if (pid == 0) {
        execvp(program[0], program);
        std::perror("exec");
        _exit(127);
    }
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
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
    return Start{static_cast<long>(
                     std::chrono::duration_cast<std::chrono::milliseconds>(mapped - start).count()),
                 peak};
}

long Median(std::vector<long> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: koma-startup-probe [--settle MS] [--rounds N] PROGRAM [ARGS...] "
                 "[--then PROGRAM [ARGS...]]...\n");
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    int first = 1;
    long settle_ms = 1000;
    long rounds = 0;  // 0: one start, printed as before
    while (first + 1 < argc && (std::strcmp(argv[first], "--settle") == 0 ||
                                std::strcmp(argv[first], "--rounds") == 0)) {
        const std::optional<long> value = ParseCount(argv[first + 1]);
        if (!value) {
            std::fprintf(stderr, "koma-startup-probe: %s wants a number, got '%s'\n", argv[first],
                         argv[first + 1]);
            return 2;
        }
        (std::strcmp(argv[first], "--settle") == 0 ? settle_ms : rounds) = *value;
        first += 2;
    }
    // The programs, each a null-terminated run of argv: every "--then" becomes an end.
    std::vector<char**> programs;
    for (int i = first; i < argc; ++i) {
        if (std::strcmp(argv[i], "--then") == 0) {
            argv[i] = nullptr;
        } else if (i == first || argv[i - 1] == nullptr) {
            programs.push_back(argv + i);
        }
    }
    if (programs.empty() || (rounds == 0 && programs.size() > 1)) {
        return Usage();
    }
    const DisplayHandle display(XOpenDisplay(nullptr));
    if (display == nullptr) {
        std::fprintf(stderr, "koma-startup-probe: cannot open the X display\n");
        return 2;
    }
    XSelectInput(display.get(), DefaultRootWindow(display.get()), SubstructureNotifyMask);
    XSync(display.get(), False);

    if (rounds == 0) {
        const std::optional<Start> one = Measure(display.get(), programs[0], settle_ms);
        if (!one) {
            return 2;
        }
        std::printf("startup_ms %ld\npeak_rss_kib %ld\n", one->ms, one->peak_kib);
        return 0;
    }
    std::vector<std::vector<Start>> starts(programs.size());
    for (long round = 0; round < rounds; ++round) {
        for (std::size_t turn = 0; turn < programs.size(); ++turn) {
            const std::size_t which = (turn + static_cast<std::size_t>(round)) % programs.size();
            const std::optional<Start> one = Measure(display.get(), programs[which], settle_ms);
            if (!one) {
                return 2;
            }
            std::printf("round %ld %s: startup_ms %ld peak_rss_kib %ld\n", round + 1,
                        programs[which][0], one->ms, one->peak_kib);
            starts[which].push_back(*one);
        }
    }
    for (std::size_t which = 0; which < programs.size(); ++which) {
        std::vector<long> ms;
        std::vector<long> peak;
        for (const Start& one : starts[which]) {
            ms.push_back(one.ms);
            peak.push_back(one.peak_kib);
        }
        std::printf("median %s: startup_ms %ld peak_rss_kib %ld\n", programs[which][0], Median(ms),
                    Median(peak));
    }
    return 0;
}
