#include "app/frame_placement.h"

#include <xcb/xcb.h>

#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <thread>

#include "app/xcb_event.h"

namespace koma::app {
namespace {

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

// How long a window manager that says it tells the frame beforehand is given to do so. Mutter
// beside three busy loops took up to 190 ms.
constexpr auto kAnswerWait = std::chrono::milliseconds(1000);
constexpr auto kPollEvery = std::chrono::milliseconds(2);

ReplyPtr<xcb_get_property_reply_t> Property(xcb_connection_t* connection, xcb_window_t window,
                                            xcb_atom_t name, xcb_atom_t type, std::uint32_t longs) {
    return {xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, window, name, type, 0, longs), nullptr),
            &std::free};
}

std::span<const std::uint32_t> Values(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr || reply->format != 32) {
        return {};
    }
    return {static_cast<const std::uint32_t*>(xcb_get_property_value(reply)),
            static_cast<std::size_t>(xcb_get_property_value_length(reply)) / 4};
}

// The window manager running now, if it answers _NET_REQUEST_FRAME_EXTENTS as it says in
// _NET_SUPPORTED (a list that one which died may leave behind, hence its check window first).
xcb_window_t ManagerThatTells(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t request) {
    const auto check = Property(
        connection, root, InternAtom(connection, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 1);
    const auto manager = Values(check.get());
    if (manager.empty()) {
        return XCB_NONE;
    }
    const auto supported =
        Property(connection, root, InternAtom(connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 4096);
    const auto atoms = Values(supported.get());
    return std::find(atoms.begin(), atoms.end(), request) != atoms.end() ? manager.front()
                                                                         : XCB_NONE;
}

std::optional<QMargins> AskFrameExtents(xcb_connection_t* connection, xcb_window_t window) {
    // A window manager that says it tells and did not (fluxbox) is not asked again: every box
    // would wait for it.
    static xcb_window_t silent_manager = XCB_NONE;
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr),
        &std::free);
    const xcb_atom_t request = InternAtom(connection, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = InternAtom(connection, "_NET_FRAME_EXTENTS");
    if (geometry == nullptr || request == 0 || extents == 0) {
        return std::nullopt;
    }
    const xcb_window_t manager = ManagerThatTells(connection, geometry->root, request);
    if (manager == XCB_NONE || manager == silent_manager) {
        return std::nullopt;
    }
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = request;
    xcb_send_event(connection, 0, geometry->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    do {
        const auto reply = Property(connection, window, extents, XCB_ATOM_CARDINAL, 4);
        if (const auto side = Values(reply.get()); side.size() == 4) {
            return QMargins(static_cast<int>(side[0]), static_cast<int>(side[2]),
                            static_cast<int>(side[1]), static_cast<int>(side[3]));
        }
        std::this_thread::sleep_for(kPollEvery);
    } while (std::chrono::steady_clock::now() < deadline);
    silent_manager = manager;
    return std::nullopt;
}

}  // namespace

std::optional<QMargins> FrameBeforeShow(QWidget& window) {
    xcb_connection_t* const connection = X11Connection();
    if (connection == nullptr) {
        return std::nullopt;
    }
    return AskFrameExtents(connection, static_cast<xcb_window_t>(window.winId()));
}

void SetFramePositionBeforeShow(QWidget& window, QPoint position) {
    window.move(position);
    if (X11Connection() == nullptr) {
        return;
    }
    // The native window gets the widget's size first: should they differ when the widget shows,
    // Qt would set the place again, as the client area's.
    window.winId();
    QWindow& handle = *window.windowHandle();
    handle.resize(window.size());
    handle.setFramePosition(position);
}

void ResizeInPlace(QWidget& window, QSize size) {
    xcb_connection_t* const connection = X11Connection();
    if (connection == nullptr || !window.testAttribute(Qt::WA_WState_Created)) {
        window.resize(size);
        return;
    }
    // Qt takes the new size in from the server's answer, like a resize by the window manager.
    const std::uint32_t values[] = {static_cast<std::uint32_t>(size.width()),
                                    static_cast<std::uint32_t>(size.height())};
    xcb_configure_window(connection, static_cast<xcb_window_t>(window.winId()),
                         XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    xcb_flush(connection);
}

}  // namespace koma::app
