#include "scripted_wm.h"

#include <poll.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace koma::xtest {
namespace {

constexpr std::uint32_t kNorthWest = 1;
constexpr std::uint32_t kStatic = 10;
constexpr std::uint32_t kGravityGiven = 1U << 9;  // PWinGravity in WM_NORMAL_HINTS' flags

}  // namespace

ScriptedWm::ScriptedWm(const QString& display, Script script)
    : script_(script), stalled_(script.stalls) {
    const QByteArray name = display.toLatin1();
    std::unique_ptr<xcb_connection_t, Disconnect> connection(
        xcb_connect(name.constData(), nullptr));
    if (xcb_connection_has_error(connection.get()) != 0) {
        return;
    }
    xcb_connection_t* const c = connection.get();
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // Only one client may redirect the root's children: it fails if a window manager runs.
    const std::uint32_t mask =
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    if (const ReplyPtr<xcb_generic_error_t> error(
            xcb_request_check(
                c, xcb_change_window_attributes_checked(c, root_, XCB_CW_EVENT_MASK, &mask)),
            &std::free);
        error != nullptr) {
        return;
    }
    request_ = Atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    extents_ = Atom(c, "_NET_FRAME_EXTENTS");
    normal_hints_ = XCB_ATOM_WM_NORMAL_HINTS;
    // What it says it can do, on the root, with its check window.
    const xcb_window_t check = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, check, root_, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t check_atom = Atom(c, "_NET_SUPPORTING_WM_CHECK");
    for (const xcb_window_t holder : {root_, check}) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, holder, check_atom, XCB_ATOM_WINDOW, 32, 1,
                            &check);
    }
    std::vector<xcb_atom_t> supported{extents_};
    if (script_.telling != Telling::kNotOffered) {
        supported.push_back(request_);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, root_, Atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM,
                        32, static_cast<std::uint32_t>(supported.size()), supported.data());
    const ReplyPtr<xcb_get_input_focus_reply_t> synced(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr), &std::free);
    connection_ = std::move(connection);
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
            const std::uint8_t type = event->response_type & 0x7f;
            if (stalled_ && type != XCB_MAP_REQUEST) {
                held_.push_back(std::move(event));
                continue;
            }
            if (stalled_) {
                // Woken by the window that gave up waiting: everything held first, in order.
                stalled_ = false;
                for (const auto& held : held_) {
                    Handle(*held);
                }
                held_.clear();
            }
            Handle(*event);
        }
        std::optional<QRect> moved;
        xcb_window_t first = 0;
        {
            const std::lock_guard lock(mutex_);
            const std::optional<QPoint> by = std::exchange(player_move_, std::nullopt);
            if (by && !placements_.empty()) {
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
        case XCB_CLIENT_MESSAGE: {
            const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
            if (message.type == request_ && script_.telling == Telling::kAtOnce) {
                Tell(message.window);
            }
            break;
        }
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
    const std::array<std::uint32_t, 4> sides{
        static_cast<std::uint32_t>(kFrame.left()), static_cast<std::uint32_t>(kFrame.right()),
        static_cast<std::uint32_t>(kFrame.top()), static_cast<std::uint32_t>(kFrame.bottom())};
    xcb_change_property(connection_.get(), XCB_PROP_MODE_REPLACE, window, extents_,
                        XCB_ATOM_CARDINAL, 32, 4, sides.data());
    told_.insert(window);
}

std::uint32_t ScriptedWm::Gravity(xcb_window_t window) const {
    xcb_connection_t* const c = connection_.get();
    const ReplyPtr<xcb_get_property_reply_t> hints(
        xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, normal_hints_, XCB_ATOM_WM_SIZE_HINTS, 0, 18),
            nullptr),
        &std::free);
    if (hints == nullptr || hints->format != 32 ||
        xcb_get_property_value_length(hints.get()) < 72) {
        return kNorthWest;
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(hints.get()));
    return (values[0] & kGravityGiven) != 0 ? values[17] : kNorthWest;
}

void ScriptedWm::Map(xcb_window_t window) {
    xcb_connection_t* const c = connection_.get();
    {
        const std::lock_guard lock(mutex_);
        if (first_ == 0) {
            first_ = window;
        }
    }
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
    // Framed by its gravity: north-west puts the frame's corner where the window stood.
    QRect client(geometry->x, geometry->y, geometry->width, geometry->height);
    if (Gravity(window) != kStatic) {
        client.translate(kFrame.left(), kFrame.top());
    }
    managed_.insert(window);
    const std::uint32_t values[] = {static_cast<std::uint32_t>(client.x()),
                                    static_cast<std::uint32_t>(client.y())};
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    xcb_map_window(c, window);
    bool first = false;
    {
        const std::lock_guard lock(mutex_);
        first = window == first_;
    }
    if (first) {
        // Asked in the same stream right after the map: the server answers before the window
        // could have drawn anything.
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
    if (managed_.count(request.window) == 0) {
        // Not mapped yet: as asked.
        std::vector<std::uint32_t> values;
        const std::pair<std::uint16_t, std::int32_t> fields[] = {
            {XCB_CONFIG_WINDOW_X, request.x},
            {XCB_CONFIG_WINDOW_Y, request.y},
            {XCB_CONFIG_WINDOW_WIDTH, request.width},
            {XCB_CONFIG_WINDOW_HEIGHT, request.height}};
        std::uint16_t mask = 0;
        for (const auto& [bit, value] : fields) {
            if ((request.value_mask & bit) != 0) {
                mask |= bit;
                values.push_back(static_cast<std::uint32_t>(value));
            }
        }
        xcb_configure_window(c, request.window, mask, values.data());
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        if (request.window == first_ && player_moved_) {
            ++requests_since_player_;
        }
    }
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, request.window), nullptr), &std::free);
    if (geometry == nullptr) {
        return;
    }
    QRect client(geometry->x, geometry->y, geometry->width, geometry->height);
    const QPoint inside =
        Gravity(request.window) != kStatic ? QPoint(kFrame.left(), kFrame.top()) : QPoint();
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
    Place(request.window, client);
}

void ScriptedWm::Place(xcb_window_t window, QRect client) {
    xcb_connection_t* const c = connection_.get();
    const std::uint32_t values[] = {
        static_cast<std::uint32_t>(client.x()), static_cast<std::uint32_t>(client.y()),
        static_cast<std::uint32_t>(client.width()), static_cast<std::uint32_t>(client.height())};
    xcb_configure_window(c, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    // As a window manager must: the client hears where it stands on the root.
    xcb_configure_notify_event_t notify{};
    notify.response_type = XCB_CONFIGURE_NOTIFY;
    notify.event = window;
    notify.window = window;
    notify.x = static_cast<std::int16_t>(client.x());
    notify.y = static_cast<std::int16_t>(client.y());
    notify.width = static_cast<std::uint16_t>(client.width());
    notify.height = static_cast<std::uint16_t>(client.height());
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&notify));
    const std::lock_guard lock(mutex_);
    if (window == first_) {
        const WmClient::Placement placed{client, told_.count(window) > 0 ? kFrame : QMargins(), 0};
        if (placements_.empty() || placements_.back().client != placed.client ||
            placements_.back().frame != placed.frame) {
            placements_.push_back(placed);
        }
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
