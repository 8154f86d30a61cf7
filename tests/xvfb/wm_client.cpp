#include "wm_client.h"

#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <cstring>

namespace koma::xtest {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    const ReplyPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr),
        &std::free);
    return reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

WmClient::WmClient(const QString& display) {
    const QByteArray name = display.toLatin1();
    std::unique_ptr<xcb_connection_t, Disconnect> connection(
        xcb_connect(name.constData(), nullptr));
    if (xcb_connection_has_error(connection.get()) != 0) {
        return;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data->root;
    wm_protocols_ = Atom(connection.get(), "WM_PROTOCOLS");
    net_wm_ping_ = Atom(connection.get(), "_NET_WM_PING");
    wm_delete_window_ = Atom(connection.get(), "WM_DELETE_WINDOW");
    net_frame_extents_ = Atom(connection.get(), "_NET_FRAME_EXTENTS");
    // A window answers a ping by sending it back to the root window, to whoever listens there
    // for structure changes.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection.get(), root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection.get());
    connection_ = std::move(connection);
}

void WmClient::Ping(std::uint32_t window, std::uint32_t serial) const {
    // The timestamp field carries the number; the answer brings it back.
    SendProtocol(window, net_wm_ping_, serial);
}

void WmClient::RequestClose(std::uint32_t window) const {
    SendProtocol(window, wm_delete_window_, XCB_CURRENT_TIME);
    const ReplyPtr<xcb_get_input_focus_reply_t> synced(
        xcb_get_input_focus_reply(connection_.get(), xcb_get_input_focus(connection_.get()),
                                  nullptr),
        &std::free);
}

void WmClient::SendProtocol(std::uint32_t window, xcb_atom_t protocol, std::uint32_t stamp) const {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = wm_protocols_;
    message.data.data32[0] = protocol;
    message.data.data32[1] = stamp;
    message.data.data32[2] = window;
    xcb_send_event(connection_.get(), 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection_.get());
}

std::vector<std::uint32_t> WmClient::Answers() const {
    std::vector<std::uint32_t> answered;
    constexpr std::uint8_t kSentByClient = 0x80;
    while (xcb_generic_event_t* const raw = xcb_poll_for_event(connection_.get())) {
        const ReplyPtr<xcb_generic_event_t> event(raw, &std::free);
        if ((event->response_type & ~kSentByClient) != XCB_CLIENT_MESSAGE) {
            continue;
        }
        const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(raw);
        if (message->window == root_ && message->type == wm_protocols_ &&
            message->data.data32[0] == net_wm_ping_) {
            answered.push_back(message->data.data32[1]);
        }
    }
    return answered;
}

QImage WmClient::Grab(const QRect& area) const {
    const ReplyPtr<xcb_get_image_reply_t> reply(
        xcb_get_image_reply(
            connection_.get(),
            xcb_get_image(connection_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root_,
                          static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
                          static_cast<std::uint16_t>(area.width()),
                          static_cast<std::uint16_t>(area.height()), ~0U),
            nullptr),
        &std::free);
    const auto bytes = static_cast<qsizetype>(area.width()) * area.height() * 4;
    if (reply == nullptr || xcb_get_image_data_length(reply.get()) != bytes) {
        return {};
    }
    // Xvfb's 24-bit screen comes as 32 bits a pixel, blue first: Qt's RGB32 on this machine.
    return QImage(xcb_get_image_data(reply.get()), area.width(), area.height(),
                  QImage::Format_RGB32)
        .copy();
}

std::optional<WmClient::Placement> WmClient::Place(std::uint32_t window) const {
    xcb_connection_t* const c = connection_.get();
    const ReplyPtr<xcb_get_geometry_reply_t> size(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr), &std::free);
    const ReplyPtr<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, root_, 0, 0),
                                        nullptr),
        &std::free);
    if (size == nullptr || origin == nullptr) {
        return std::nullopt;
    }
    Placement placement{QRect(origin->dst_x, origin->dst_y, size->width, size->height), {}, 0};
    const ReplyPtr<xcb_get_property_reply_t> extents(
        xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, net_frame_extents_, XCB_ATOM_CARDINAL, 0, 4),
            nullptr),
        &std::free);
    if (extents != nullptr && xcb_get_property_value_length(extents.get()) == 16) {
        const auto* side = static_cast<const std::uint32_t*>(xcb_get_property_value(extents.get()));
        placement.frame = QMargins(static_cast<int>(side[0]), static_cast<int>(side[2]),
                                   static_cast<int>(side[1]), static_cast<int>(side[3]));
    }
    return placement;
}

std::optional<WmClient::Placement> WmClient::WaitForPlacement(
    std::uint32_t window, const std::function<bool(const Placement&)>& done, int timeout_ms) const {
    QElapsedTimer clock;
    clock.start();
    std::optional<Placement> placement;
    while (clock.elapsed() < timeout_ms) {
        placement = Place(window);
        if (placement && done(*placement)) {
            break;
        }
        QThread::msleep(50);
    }
    return placement;
}

bool WmClient::Viewable(std::uint32_t window) const {
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(
            connection_.get(), xcb_get_window_attributes(connection_.get(), window), nullptr),
        &std::free);
    return attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

QByteArray WmClient::Text(std::uint32_t window, std::uint32_t property) const {
    const ReplyPtr<xcb_get_property_reply_t> text(
        xcb_get_property_reply(connection_.get(),
                               xcb_get_property(connection_.get(), 0, window, property,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                               nullptr),
        &std::free);
    if (text == nullptr || text->format != 8) {
        return {};
    }
    return {static_cast<const char*>(xcb_get_property_value(text.get())),
            xcb_get_property_value_length(text.get())};
}

QString WmClient::Name(std::uint32_t window) const {
    return QString::fromUtf8(Text(window, XCB_ATOM_WM_NAME));
}

QString WmClient::Class(std::uint32_t window) const {
    // WM_CLASS holds the instance's name, then the class's, each ended by a NUL.
    const QList<QByteArray> parts = Text(window, XCB_ATOM_WM_CLASS).split('\0');
    return parts.size() >= 2 ? QString::fromUtf8(parts.at(1)) : QString();
}

std::optional<QMargins> WmClient::FrameToldBeforeMapping() const {
    xcb_connection_t* const c = connection_.get();
    const xcb_atom_t request = Atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_window_t probe = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, root_, 0, 0, 100, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = probe;
    message.type = request;
    xcb_send_event(c, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(c);
    std::optional<QMargins> told;
    for (int tries = 0; tries < 100 && !told; ++tries) {
        QThread::msleep(10);
        if (const auto placed = Place(probe); placed && placed->frame != QMargins()) {
            told = placed->frame;
        }
    }
    xcb_destroy_window(c, probe);
    xcb_flush(c);
    return told;
}

void WmClient::WatchCreation() const {
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_.get(), root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_.get());
}

std::vector<std::uint32_t> WmClient::Created() const {
    std::vector<std::uint32_t> created;
    constexpr std::uint8_t kSentByClient = 0x80;
    while (xcb_generic_event_t* const raw = xcb_poll_for_event(connection_.get())) {
        const ReplyPtr<xcb_generic_event_t> event(raw, &std::free);
        if ((event->response_type & ~kSentByClient) == XCB_CREATE_NOTIFY) {
            const auto* made = reinterpret_cast<const xcb_create_notify_event_t*>(raw);
            if (made->override_redirect == 0) {
                created.push_back(made->window);
            }
        }
    }
    return created;
}

PlacementWatch::PlacementWatch(const QString& display) : client_(display) {
    if (client_.ok()) {
        client_.WatchCreation();
    }
}

std::vector<WmClient::Placement> PlacementWatch::Follow(const QString& name, int settle_ms,
                                                        int timeout_ms) {
    std::vector<WmClient::Placement> seen;
    QElapsedTimer clock;
    clock.start();
    qint64 kept_since = 0;
    while (client_.ok() && clock.elapsed() < timeout_ms) {
        if (window_ == 0) {
            for (const std::uint32_t made : client_.Created()) {
                created_.push_back(made);
            }
            // Qt names more windows than the one shown (its group leader, for one), and a
            // window manager may give the frames it makes the name of the window they hold
            // (mutter from 44 on, whose frames another client of its own draws).
            for (const std::uint32_t candidate : created_) {
                if (window_ == 0 && client_.Viewable(candidate) &&
                    client_.Name(candidate) == name && client_.Class(candidate) == name) {
                    window_ = candidate;
                }
            }
        }
        auto placed =
            window_ != 0 && client_.Viewable(window_) ? client_.Place(window_) : std::nullopt;
        if (placed && (seen.empty() || seen.back().client != placed->client ||
                       seen.back().frame != placed->frame)) {
            placed->seen_ms = clock.elapsed();
            seen.push_back(*placed);
            kept_since = clock.elapsed();
        } else if (!seen.empty() && clock.elapsed() - kept_since >= settle_ms) {
            break;
        }
        QThread::usleep(500);
    }
    return seen;
}

}  // namespace koma::xtest
