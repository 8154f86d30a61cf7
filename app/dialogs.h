// The program's two message boxes.
#pragma once

#include <string>
#include <string_view>

class QScreen;

namespace koma::app {

// A modal notice titled "KOMA" with one OK button (Enter, Esc and the close box all close it),
// centred on `screen` (the primary screen when none is given); a text wider than half of the
// primary screen wraps, wherever the box stands. Without `ask_frame` it shows at once, and is
// centred once the window manager has framed it: for a window manager that did not tell the
// frame of the game's window when asked.
void ShowNotice(std::string_view text, QScreen* screen = nullptr, bool ask_frame = true);

// A failure report: title "KOMA", the stop icon, one OK button; centred like the notice.
void ShowErrorBox(std::string_view message, QScreen* screen = nullptr, bool ask_frame = true);

// The error box ends a message with a full stop unless its last byte already sorts at or
// before '.' (so "…!" and "…." stay as they are and Japanese text gets one).
std::string WithFullStop(std::string_view message);

}  // namespace koma::app
