#include "tools/valgrind/wm_close.h"

#include <X11/Xlib.h>

#include <memory>

namespace koma::x11 {

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

}  // namespace

bool RequestWindowClose(const char* display, unsigned long window) {
    const std::unique_ptr<Display, DisplayCloser> connection(XOpenDisplay(display));
    if (connection == nullptr || window == 0) {
        return false;
    }
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(connection.get(), "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] =
        static_cast<long>(XInternAtom(connection.get(), "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    if (XSendEvent(connection.get(), window, False, NoEventMask, &close) == 0) {
        return false;
    }
    XSync(connection.get(), False);
    return true;
}

}  // namespace koma::x11
