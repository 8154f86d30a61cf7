#include "app/frame_watch.h"

#include <xcb/xcb.h>

#include <QEvent>
#include <QMetaObject>
#include <QWidget>
#include <QWindow>

namespace koma::app {
namespace {

std::uint32_t FrameExtentsAtom() {
    xcb_connection_t* const connection = X11Connection();
    return connection != nullptr ? InternAtom(connection, "_NET_FRAME_EXTENTS") : 0;
}

}  // namespace

FrameWatch::FrameWatch(QWidget& window, std::function<void()> changed)
    : window_(window), changed_(std::move(changed)), frame_extents_(FrameExtentsAtom()) {
    window_.installEventFilter(this);
}

FrameWatch::~FrameWatch() {
    window_.removeEventFilter(this);
}

bool FrameWatch::eventFilter(QObject* watched, QEvent* event) {
    // Also when its state changes: a window manager may show the window minimised for a moment
    // (mutter 48 does, while its frame is made), and a frame is only fitted to a normal window.
    if (watched == &window_ &&
        (event->type() == QEvent::Show || event->type() == QEvent::WindowStateChange)) {
        Later();
    }
    return false;
}

void FrameWatch::Seen(std::uint8_t type, const xcb_generic_event_t& event) {
    if (type != XCB_PROPERTY_NOTIFY) {
        return;
    }
    // Qt reads the new extents from the same event, after this.
    const auto& property = reinterpret_cast<const xcb_property_notify_event_t&>(event);
    if (frame_extents_ != 0 && property.atom == frame_extents_ && window_.internalWinId() != 0 &&
        property.window == window_.internalWinId()) {
        Later();
    }
}

void FrameWatch::Later() {
    // Queued: Qt marks its idea of the frame stale only after the filters have seen the event.
    QMetaObject::invokeMethod(this, changed_, Qt::QueuedConnection);
}

QSize FrameSize(const QWidget& window) {
    // Asked of the window itself: the widget's copy is brought up to date only by the next
    // move or resize, and a window manager may set the extents without either.
    const QWindow* const handle = window.windowHandle();
    if (handle == nullptr) {
        return {0, 0};
    }
    const QMargins frame = handle->frameMargins();
    return {frame.left() + frame.right(), frame.top() + frame.bottom()};
}

}  // namespace koma::app
