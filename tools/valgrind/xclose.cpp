// koma-xclose WINDOW_ID: sends the window WM_DELETE_WINDOW, as a window manager's close box
// does, on the display named by $DISPLAY. Exit status 0 when sent, 2 on bad input.
#include <X11/Xlib.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: koma-xclose WINDOW_ID\n";
        return 2;
    }
    char* end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0' || window == 0) {
        std::cerr << "koma-xclose: not a window id: '" << argv[1] << "'\n";
        return 2;
    }
    const std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (display == nullptr) {
        std::cerr << "koma-xclose: cannot open the display\n";
        return 2;
    }
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] =
        static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    if (XSendEvent(display.get(), window, False, NoEventMask, &close) == 0) {
        std::cerr << "koma-xclose: the request could not be sent\n";
        return 2;
    }
    XSync(display.get(), False);
    return 0;
}
