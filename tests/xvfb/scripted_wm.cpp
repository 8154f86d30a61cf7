#include "scripted_wm.h"

#include <poll.h>

#include <array>
#include <utility>

namespace koma::xtest {

ScriptedWm::ScriptedWm(const QString& display, Script script)
    : connection_(xcb_connect(display.toLatin1().constData(), nullptr), &xcb_disconnect),
      script_(script),
      stalled_(script.stalls) {
    xcb_connection_t* const c = connection_.get();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // Only one client may redirect the root's children: this fails while a window manager runs.
    const std::uint32_t mask =
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    if (xcb_connection_has_error(c) != 0 ||
        ReplyPtr<xcb_generic_error_t>(xcb_request_check(c, xcb_change_window_attributes_checked(
                                                               c, root, XCB_CW_EVENT_MASK, &mask)),
                                      &std::free) != nullptr) {
        return;
    }
    request_ = Atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    extents_ = Atom(c, "_NET_FRAME_EXTENTS");
    const xcb_window_t check = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, check, root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    for (const xcb_window_t holder : {root, check}) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, holder, Atom(c, "_NET_SUPPORTING_WM_CHECK"),
                            XCB_ATOM_WINDOW, 32, 1, &check);
    }
    const std::array<xcb_atom_t, 2> supported{extents_, request_};
    const std::uint32_t offered = script_.telling == Telling::kNotOffered ? 1 : 2;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, Atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM,
                        32, offered, supported.data());
    // Answered once the server has taken all of it in: the game, started next, finds it there.
    const ReplyPtr<xcb_get_input_focus_reply_t> synced(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr), &std::free);
    thread_ = std::thread([this] { Run(); });
}

ScriptedWm::~ScriptedWm() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ScriptedWm::Run() {
    xcb_connection_t* const c = connection_.get();
    pollfd wake{xcb_get_file_descriptor(c), POLLIN, 0};
    while (!stop_ && xcb_connection_has_error(c) == 0) {
        poll(&wake, 1, 5);
        while (xcb_generic_event_t* const raw = xcb_poll_for_event(c)) {
            ReplyPtr<xcb_generic_event_t> event(raw, &std::free);
            if (stalled_ && (event->response_type & 0x7f) != XCB_MAP_REQUEST) {
                held_.push_back(std::move(event));
                continue;
            }
            stalled_ = false;  // woken by the window that gave up waiting: all in order
            for (const auto& held : std::exchange(held_, {})) {
                Handle(*held);
            }
            Handle(*event);
        }
        std::optional<QRect> moved;
        xcb_window_t first = 0;
        {
            const std::lock_guard lock(mutex_);
            if (const auto by = std::exchange(player_move_, std::nullopt);
                by && !placements_.empty()) {
                moved = placements_.back().client.translated(*by);
                first = first_;
                player_moved_ = true;
            }
        }
        if (moved) {
            Place(first, *moved);
        }
        xcb_flush(c);
    }
}

void ScriptedWm::Handle(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE:
            if (reinterpret_cast<const xcb_client_message_event_t&>(event).type == request_ &&
                script_.telling == Telling::kAtOnce) {
                Tell(reinterpret_cast<const xcb_client_message_event_t&>(event).window);
            }
            break;
        case XCB_MAP_REQUEST:
            Map(reinterpret_cast<const xcb_map_request_event_t&>(event).window);
            break;
        case XCB_CONFIGURE_REQUEST:
            Configure(reinterpret_cast<const xcb_configure_request_event_t&>(event));
            break;
        default:
            break;
    }
}

void ScriptedWm::Tell(xcb_window_t window) {
    const std::array<std::uint32_t, 4> sides{4, 4, 24, 4};  // kFrame: left, right, top, bottom
    xcb_change_property(connection_.get(), XCB_PROP_MODE_REPLACE, window, extents_,
                        XCB_ATOM_CARDINAL, 32, 4, sides.data());
    told_.insert(window);
}

void ScriptedWm::Map(xcb_window_t window) {
    xcb_connection_t* const c = connection_.get();
    const bool tells_first =
        script_.telling == Telling::kAtOnce || script_.telling == Telling::kNever;
    if (tells_first) {
        Tell(window);
    }
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr), &std::free);
    if (geometry == nullptr) {
        return;
    }
    // The frame's corner where the window stood, the window inside it.
    const QRect client(geometry->x + kFrame.left(), geometry->y + kFrame.top(), geometry->width,
                       geometry->height);
    const std::array<std::uint32_t, 2> corner{static_cast<std::uint32_t>(client.x()),
                                              static_cast<std::uint32_t>(client.y())};
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, corner.data());
    xcb_map_window(c, window);
    managed_.insert(window);
    bool first = false;
    {
        const std::lock_guard lock(mutex_);
        first = first_ == 0;
        first_ = first ? window : first_;
    }
    if (first) {
        // Asked in the same stream right after the map: answered before the window can paint.
        const ReplyPtr<xcb_get_image_reply_t> image(
            xcb_get_image_reply(
                c,
                xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window,
                              static_cast<std::int16_t>(client.width() - 20),
                              static_cast<std::int16_t>(client.height() / 2), 1, 1, ~0U),
                nullptr),
            &std::free);
        if (image != nullptr && xcb_get_image_data_length(image.get()) >= 3) {
            const std::uint8_t* const pixel = xcb_get_image_data(image.get());
            const std::lock_guard lock(mutex_);
            colour_at_mapping_ = QColor(pixel[2], pixel[1], pixel[0]);  // blue first
        }
    }
    if (!tells_first) {
        Tell(window);
    }
    Place(window, client);
}

void ScriptedWm::Configure(const xcb_configure_request_event_t& request) {
    xcb_connection_t* const c = connection_.get();
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, request.window), nullptr), &std::free);
    if (geometry == nullptr) {
        return;
    }
    // A mapped window's place is its frame's; one not mapped yet goes where it asks.
    const bool managed = managed_.count(request.window) > 0;
    const QPoint inside = managed ? QPoint(kFrame.left(), kFrame.top()) : QPoint();
    QRect client(geometry->x, geometry->y, geometry->width, geometry->height);
    if ((request.value_mask & XCB_CONFIG_WINDOW_X) != 0) {
        client.moveLeft(request.x + inside.x());
    }
    if ((request.value_mask & XCB_CONFIG_WINDOW_Y) != 0) {
        client.moveTop(request.y + inside.y());
    }
    if ((request.value_mask & XCB_CONFIG_WINDOW_WIDTH) != 0) {
        client.setWidth(request.width);
    }
    if ((request.value_mask & XCB_CONFIG_WINDOW_HEIGHT) != 0) {
        client.setHeight(request.height);
    }
    {
        const std::lock_guard lock(mutex_);
        requests_since_player_ += request.window == first_ && player_moved_ ? 1 : 0;
    }
    Place(request.window, client);
}

void ScriptedWm::Place(xcb_window_t window, const QRect& client) {
    xcb_connection_t* const c = connection_.get();
    const std::array<std::uint32_t, 4> values{
        static_cast<std::uint32_t>(client.x()), static_cast<std::uint32_t>(client.y()),
        static_cast<std::uint32_t>(client.width()), static_cast<std::uint32_t>(client.height())};
    xcb_configure_window(c, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values.data());
    if (managed_.count(window) == 0) {
        return;
    }
    // As a window manager must: the client hears where it stands on the screen.
    xcb_configure_notify_event_t notify{};
    notify.response_type = XCB_CONFIGURE_NOTIFY;
    notify.event = notify.window = window;
    notify.x = static_cast<std::int16_t>(client.x());
    notify.y = static_cast<std::int16_t>(client.y());
    notify.width = static_cast<std::uint16_t>(client.width());
    notify.height = static_cast<std::uint16_t>(client.height());
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&notify));
    const std::lock_guard lock(mutex_);
    const WmClient::Placement placed{client, told_.count(window) > 0 ? kFrame : QMargins(), 0};
    if (window == first_ && (placements_.empty() || placements_.back().client != placed.client ||
                             placements_.back().frame != placed.frame)) {
        placements_.push_back(placed);
    }
}

std::vector<WmClient::Placement> ScriptedWm::Placements() const {
    const std::lock_guard lock(mutex_);
    return placements_;
}

std::optional<QColor> ScriptedWm::ColourAtMapping() const {
    const std::lock_guard lock(mutex_);
    return colour_at_mapping_;
}

void ScriptedWm::MoveAsThePlayer(QPoint by) {
    const std::lock_guard lock(mutex_);
    player_move_ = by;
}

int ScriptedWm::RequestsSinceThePlayer() const {
    const std::lock_guard lock(mutex_);
    return requests_since_player_;
}

}  // namespace koma::xtest
