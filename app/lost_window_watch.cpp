#include "app/lost_window_watch.h"

#include <xcb/xcb.h>

#include <cstdint>

#include <QApplication>
#include <QMetaObject>
#include <QWidget>

namespace koma::app {

LostWindowWatch::LostWindowWatch() {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

LostWindowWatch::~LostWindowWatch() {
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool LostWindowWatch::nativeEventFilter(const QByteArray& event_type, void* message,
                                        qintptr* /*result*/) {
    if (event_type != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    constexpr std::uint8_t kSentByClient = 0x80;
    if ((event->response_type & ~kSentByClient) != XCB_DESTROY_NOTIFY) {
        return false;
    }
    const auto* destroyed = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->internalWinId() == destroyed->window && widget->isVisible()) {
            // Later, from the event loop: the widget closes as by its close box (a message box
            // ends its exec(), the main window ends the program).
            QMetaObject::invokeMethod(widget, &QWidget::close, Qt::QueuedConnection);
        }
    }
    return false;  // Qt may still want to see it
}

}  // namespace koma::app
