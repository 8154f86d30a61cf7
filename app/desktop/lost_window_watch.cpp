#include "app/desktop/lost_window_watch.h"

#include <QApplication>
#include <QMetaObject>
#include <QWidget>

namespace koma::app {

void LostWindowWatch::Seen(std::uint8_t type, const xcb_generic_event_t& event) {
    if (type != XCB_DESTROY_NOTIFY) {
        return;
    }
    const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->internalWinId() == destroyed.window && widget->isVisible()) {
            // Later, from the event loop: the widget closes as by its close box (a message box
            // ends its exec(), the main window ends the program).
            QMetaObject::invokeMethod(widget, &QWidget::close, Qt::QueuedConnection);
        }
    }
}

}  // namespace koma::app
