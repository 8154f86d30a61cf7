#include "app/lost_window_watch.h"

#include <xcb/xcb.h>

#include <cstdint>

#include <QApplication>
#include <QMetaObject>
#include <QWidget>

#include "app/xcb_event.h"

namespace koma::app {

LostWindowWatch::LostWindowWatch() {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

LostWindowWatch::~LostWindowWatch() {
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool LostWindowWatch::nativeEventFilter(const QByteArray& event_type, void* message,
                                        qintptr* /*result*/) {
    const auto* destroyed =
        XcbEventOf<xcb_destroy_notify_event_t>(event_type, message, XCB_DESTROY_NOTIFY);
    if (destroyed == nullptr) {
        return false;
    }
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
