#include "app/frame_watch.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/xcb_event.h"

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
    if (frame_extents_ != 0) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
}

FrameWatch::~FrameWatch() {
    QCoreApplication::instance()->removeNativeEventFilter(this);
    window_.removeEventFilter(this);
}

bool FrameWatch::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::Show) {
        Later();
    }
    return false;
}

bool FrameWatch::nativeEventFilter(const QByteArray& event_type, void* message,
                                   qintptr* /*result*/) {
    const auto* property =
        XcbEventOf<xcb_property_notify_event_t>(event_type, message, XCB_PROPERTY_NOTIFY);
    if (property == nullptr) {
        return false;
    }
    if (property->atom == frame_extents_ && window_.internalWinId() != 0 &&
        property->window == window_.internalWinId()) {
        Later();
    }
    return false;  // Qt reads the new extents from it too
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
