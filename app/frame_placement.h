// Places a top-level window before it is first shown, so that the window manager puts the frame
// where it belongs itself and the first frame it draws is already right. FrameWatch then only
// mends what could not be told in advance.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QSize>
#include <optional>

class QWidget;

namespace koma::app {

// The frame the window manager will put around `window`, asked before the window shows (its
// native window is made for that); nothing when it cannot be known beforehand: no window
// manager, one that does not tell, not X11.
std::optional<QMargins> FrameBeforeShow(QWidget& window);

// Puts the top-left corner of the frame of `window`, not shown yet, at `position`. The window
// manager is told that the position is the frame's (north-west gravity); without one, the client
// area stands there.
void SetFramePositionBeforeShow(QWidget& window, QPoint position);

// Gives the shown `window` the client size `size` and leaves its place to the window manager. Qt
// would also send the position it last heard of, which may be from before the window manager
// framed the window, and so move it.
void ResizeInPlace(QWidget& window, QSize size);

}  // namespace koma::app
