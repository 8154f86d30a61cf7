#include "app/frame_watch.h"

#include <xcb/xcb.h>

#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace koma::app {
namespace {

std::uint32_t FrameExtentsAtom() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return 0;
    }
    xcb_connection_t* const connection = x11->connection();
    constexpr char kName[] = "_NET_FRAME_EXTENTS";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof kName - 1, kName),
                              nullptr),
        &std::free);
    return reply != nullptr ? reply->atom : 0;
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
    if (watched == &window_ && event->type() == QEvent::Show) {
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
