#include "app/desktop/xcb_event.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>

namespace koma::app {

xcb_connection_t* X11Connection() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

std::uint32_t InternAtom(xcb_connection_t* connection, std::string_view name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()),
            nullptr),
        &std::free);
    return reply != nullptr ? reply->atom : 0;
}

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
