// The X11 event a native event filter is handed, when it is of the kind a filter looks for.
#pragma once

#include <xcb/xcb.h>

#include <QByteArray>
#include <cstdint>

namespace koma::app {

// `message` as an `Event` when it is an X11 event of `type` (also when another client sent
// it), otherwise nullptr.
template <typename Event>
const Event* XcbEventOf(const QByteArray& event_type, void* message, std::uint8_t type) {
    if (event_type != "xcb_generic_event_t") {
        return nullptr;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    constexpr std::uint8_t kSentByClient = 0x80;
    if ((event->response_type & ~kSentByClient) != type) {
        return nullptr;
    }
    return reinterpret_cast<const Event*>(event);
}

}  // namespace koma::app
