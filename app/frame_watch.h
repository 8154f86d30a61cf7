// Tells a top-level window when the window manager may have changed its frame: when the window
// is shown or changes state, and whenever an X11 window manager sets the frame's extents, which
// it may do well after the window has appeared.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>

#include "app/xcb_event.h"

class QWidget;

namespace koma::app {

class FrameWatch : public QObject, public XcbEventWatch {
  public:
    // `changed` runs from the event loop, once Qt itself has taken the news in.
    FrameWatch(QWidget& window, std::function<void()> changed);
    FrameWatch(const FrameWatch&) = delete;
    FrameWatch& operator=(const FrameWatch&) = delete;
    ~FrameWatch() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

  protected:
    void Seen(std::uint8_t type, const xcb_generic_event_t& event) override;

  private:
    void Later();

    QWidget& window_;
    std::function<void()> changed_;
    std::uint32_t frame_extents_ = 0;  // the X11 atom _NET_FRAME_EXTENTS; 0 elsewhere
};

// The size of the frame around `window`'s client area, (0, 0) while it has none.
QSize FrameSize(const QWidget& window);

}  // namespace koma::app
