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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

long PeakRssKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
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
        settle_ms = std::strtol(argv[2], nullptr, 10);
        first = 3;
    }
    if (first >= argc) {
        return Usage();
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "koma-startup-probe: cannot open the X display\n");
        return 2;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[first], argv + first);
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
    XCloseDisplay(display);

    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(mapped - start).count();
    std::printf("startup_ms %lld\npeak_rss_kib %ld\n", static_cast<long long>(ms), peak);
    return 0;
}
