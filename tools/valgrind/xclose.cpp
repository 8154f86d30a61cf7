// koma-xclose WINDOW_ID: sends the window WM_DELETE_WINDOW, as a window manager's close box
// does, on the display named by $DISPLAY. Exit status 0 when sent, 2 on bad input.
#include <cstdlib>
#include <iostream>

#include "tools/valgrind/wm_close.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: koma-xclose WINDOW_ID\n";
        return 2;
    }
    const char* const text = argv[1];
    char* end = nullptr;
    const unsigned long window = std::strtoul(text, &end, 0);
    if (end == text || *end != '\0' || window == 0) {
        std::cerr << "koma-xclose: not a window id: '" << text << "'\n";
        return 2;
    }
    if (!koma::x11::RequestWindowClose(nullptr, window)) {
        std::cerr << "koma-xclose: cannot open the display or send the request\n";
        return 2;
    }
    return 0;
}
