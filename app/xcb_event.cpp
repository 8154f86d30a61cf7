#include "app/xcb_event.h"

#include <QCoreApplication>

namespace koma::app {

XcbEventWatch::XcbEventWatch() {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

XcbEventWatch::~XcbEventWatch() {
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XcbEventWatch::nativeEventFilter(const QByteArray& event_type, void* message,
                                      qintptr* /*result*/) {
    if (event_type == "xcb_generic_event_t") {
        const auto& event = *static_cast<const xcb_generic_event_t*>(message);
        constexpr std::uint8_t kSentByClient = 0x80;
        Seen(static_cast<std::uint8_t>(event.response_type & ~kSentByClient), event);
    }
    return false;
}

}  // namespace koma::app
