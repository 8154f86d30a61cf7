// What the system must leave the game for Qt to open its window at all. Without it Qt does not
// fail cleanly: under a small address-space limit its X11 reader thread dies and the program
// waits for ever on an X reply (or aborts), and when no thread can be started its session-bus
// connection waits for ever for one; with too few open files left its backing store waits for
// ever on the X server, and with too small a stack fontconfig overruns it. Asked before Qt
// starts, like the display.
#pragma once

#include <string>

namespace koma::app {

// Why the window cannot be opened for want of memory, stack, open files or threads; empty when
// it can.
std::string StartRoomProblem();

}  // namespace koma::app
