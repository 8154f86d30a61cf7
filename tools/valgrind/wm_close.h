// Closing an X window from outside, as a window manager's close box does.
#pragma once

namespace koma::x11 {

// Sends `window` the WM_DELETE_WINDOW request on the display named `display` ($DISPLAY when
// nullptr) and waits until the server has it. Returns whether it was sent.
bool RequestWindowClose(const char* display, unsigned long window);

}  // namespace koma::x11
