#include "app/desktop/window_geometry.h"

#include <xcb/xcb.h>

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <span>
#include <thread>

#include "app/desktop/xcb_event.h"

namespace koma::app {
namespace {

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

// How long a window manager that says it tells the frame beforehand is given to do so. Mutter
// beside three busy loops took up to 190 ms.
constexpr auto kAnswerWait = std::chrono::milliseconds(1000);
constexpr auto kPollEvery = std::chrono::milliseconds(2);
// The re-checks after the first showing, in ms from it.
constexpr std::array<int, 3> kRecheckAtMs{250, 1000, 3000};
// Requests for one frame, parent and scale: one is enough for a window manager that takes
// them, a second mends a place it took differently.
constexpr int kMostRequests = 3;

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

// _NET_FRAME_EXTENTS of `window` in device pixels; nothing while no window manager has set it.
std::optional<QMargins> FrameExtents(xcb_connection_t* connection, xcb_window_t window,
                                     xcb_atom_t extents) {
    const auto reply = Property(connection, window, extents, XCB_ATOM_CARDINAL, 4);
    const auto side = Values(reply.get());
    if (side.size() != 4) {
        return std::nullopt;
    }
    return QMargins(static_cast<int>(side[0]), static_cast<int>(side[2]), static_cast<int>(side[1]),
                    static_cast<int>(side[3]));
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

struct Asked {
    std::optional<QMargins> frame;
    bool silent = false;  // a manager that says it tells was asked and did not
};

// Asks the window manager for the frame it will give `window`, not mapped yet, and waits for
// the answer.
Asked AskFrame(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t extents) {
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr),
        &std::free);
    const xcb_atom_t request = InternAtom(connection, "_NET_REQUEST_FRAME_EXTENTS");
    if (geometry == nullptr || request == 0 ||
        ManagerThatTells(connection, geometry->root, request) == XCB_NONE) {
        return {};
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
        if (auto frame = FrameExtents(connection, window, extents)) {
            return {frame, false};
        }
        std::this_thread::sleep_for(kPollEvery);
    } while (std::chrono::steady_clock::now() < deadline);
    return {std::nullopt, true};
}

// The pixel value of `colour` in the visual of `window`.
std::optional<std::uint32_t> PixelOf(xcb_connection_t* connection, xcb_window_t window,
                                     const QColor& colour) {
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window),
                                        nullptr),
        &std::free);
    if (attributes == nullptr) {
        return std::nullopt;
    }
    for (auto screen = xcb_setup_roots_iterator(xcb_get_setup(connection)); screen.rem;
         xcb_screen_next(&screen)) {
        for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem;
             xcb_depth_next(&depth)) {
            for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
                 xcb_visualtype_next(&visual)) {
                const xcb_visualtype_t& type = *visual.data;
                if (type.visual_id != attributes->visual ||
                    type._class != XCB_VISUAL_CLASS_TRUE_COLOR) {
                    continue;
                }
                // Each channel scaled into its mask; what no mask covers (alpha) is opaque.
                const auto channel = [](int value, std::uint32_t mask) -> std::uint32_t {
                    if (mask == 0) {
                        return 0;
                    }
                    const auto shift = static_cast<std::uint32_t>(std::countr_zero(mask));
                    const std::uint32_t most = mask >> shift;
                    return ((static_cast<std::uint32_t>(value) * most + 127) / 255) << shift;
                };
                const std::uint32_t rgb = type.red_mask | type.green_mask | type.blue_mask;
                const std::uint32_t all =
                    depth.data->depth >= 32 ? ~0U : (1U << depth.data->depth) - 1;
                return channel(colour.red(), type.red_mask) |
                       channel(colour.green(), type.green_mask) |
                       channel(colour.blue(), type.blue_mask) | (all & ~rgb);
            }
        }
    }
    return std::nullopt;
}

// Where the client area of `window` lies on the screen now, in device pixels.
std::optional<QRect> ClientNow(xcb_connection_t* connection, xcb_window_t window) {
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr),
        &std::free);
    if (geometry == nullptr) {
        return std::nullopt;
    }
    const ReplyPtr<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, window, geometry->root, 0, 0),
            nullptr),
        &std::free);
    if (origin == nullptr) {
        return std::nullopt;
    }
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

// Asks for the client area `client` (device pixels) inside a frame whose top-left corner is at
// `frame_corner`: the window's gravity tells the window manager that the place is the frame's.
void Configure(xcb_connection_t* connection, xcb_window_t window, QPoint frame_corner,
               QSize client) {
    const std::array<std::uint32_t, 4> values{
        static_cast<std::uint32_t>(frame_corner.x()), static_cast<std::uint32_t>(frame_corner.y()),
        static_cast<std::uint32_t>(client.width()), static_cast<std::uint32_t>(client.height())};
    xcb_configure_window(connection, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values.data());
    xcb_flush(connection);
}

QRect Scaled(const QRectF& logical, qreal scale) {
    return {qRound(logical.x() * scale), qRound(logical.y() * scale),
            qRound(logical.width() * scale), qRound(logical.height() * scale)};
}

// How far a device-pixel place or size may be from the target's: what rounding a logical pixel
// to the screen's can bring, nothing on an unscaled screen.
int Slack(qreal scale) {
    return std::max(0, static_cast<int>(std::ceil(scale - 1e-6)) - 1);
}

bool Near(const QRect& seen, const QRect& wanted, qreal scale) {
    const int slack = Slack(scale);
    return std::abs(seen.x() - wanted.x()) <= slack && std::abs(seen.y() - wanted.y()) <= slack &&
           std::abs(seen.width() - wanted.width()) <= slack &&
           std::abs(seen.height() - wanted.height()) <= slack;
}

QMarginsF Unscaled(const QMargins& device, qreal scale) {
    return {device.left() / scale, device.top() / scale, device.right() / scale,
            device.bottom() / scale};
}

}  // namespace

WindowGeometry::Options WindowGeometry::FixedOuter(const QRect& outer, QSize least_client,
                                                   QColor first_colour) {
    Options options;
    options.target = [outer](QSizeF /*outer_now*/) { return QRectF(outer); };
    options.least_client = least_client;
    options.fit_client = true;
    options.first_colour = first_colour;
    return options;
}

WindowGeometry::Options WindowGeometry::CentredOn(QScreen* screen, bool ask_frame) {
    Options options;
    // A screen may go away while the box is open: then the box stays where it is.
    options.target = [screen = QPointer<QScreen>(screen)](QSizeF outer_now) {
        QRectF outer(QPointF(0, 0), outer_now);
        if (screen != nullptr) {
            outer.moveCenter(QRectF(screen->geometry()).center());
        }
        return outer;
    };
    options.ask_frame = ask_frame;
    return options;
}

WindowGeometry::WindowGeometry(QWidget& window, Options options)
    : window_(window), options_(std::move(options)) {
    // Before the native window is made, which takes this place and size: a window fitted to its
    // frame is as small as it may be until the frame is known.
    if (options_.fit_client) {
        window_.resize(options_.least_client);
    }
    window_.move(TargetNow(QSizeF(window_.size())).topLeft().toPoint());
    window_.installEventFilter(this);
}

WindowGeometry::~WindowGeometry() {
    window_.removeEventFilter(this);
}

void WindowGeometry::BeforeShowing() {
    if (placed_) {
        Check(false);
        return;
    }
    placed_ = true;
    xcb_connection_t* const connection = X11Connection();
    if (connection == nullptr) {
        // Its size is final only now. The platform may place the window itself (Wayland), or
        // have no frame (offscreen).
        window_.move(TargetNow(QSizeF(window_.size())).topLeft().toPoint());
        return;
    }
    const auto id = static_cast<xcb_window_t>(window_.winId());
    Listen(id);
    PlaceBeforeMapping(connection, id);
    WatchScreen();
    for (const int at : kRecheckAtMs) {
        QTimer::singleShot(at, this, [this] { Check(true); });
    }
}

void WindowGeometry::PlaceBeforeMapping(xcb_connection_t* connection, xcb_window_t id) {
    // On Qt's connection, so that it comes before Qt maps the window.
    if (options_.first_colour) {
        if (const auto pixel = PixelOf(connection, id, *options_.first_colour)) {
            xcb_change_window_attributes(connection, id, XCB_CW_BACK_PIXEL, &*pixel);
        }
    }
    const xcb_atom_t extents = InternAtom(connection, "_NET_FRAME_EXTENTS");
    std::optional<QMargins> frame = FrameExtents(connection, id, extents);
    if (!frame && options_.ask_frame) {
        const Asked asked = AskFrame(connection, id, extents);
        frame = asked.frame;
        manager_silent_ = asked.silent;
    }
    // Worked out in device pixels like every later check, handed to Qt in logical ones. Where
    // the frame is not known yet, the client area keeps its size.
    QSize client = window_.size();
    const qreal scale = window_.devicePixelRatioF();
    const QRect device_client(QPoint(0, 0), (QSizeF(client) * scale).toSize());
    const QRect wanted = Wanted(device_client, frame.value_or(QMargins()), scale);
    if (frame && options_.fit_client) {
        client = (QSizeF(wanted.size()) / scale).toSize();
    }
    const QMarginsF margins = Unscaled(frame.value_or(QMargins()), scale);
    const QPoint corner = TargetNow(QSizeF(client).grownBy(margins)).topLeft().toPoint();
    window_.resize(client);
    window_.move(corner);
    // The native window gets the widget's size first: should they differ when the widget shows,
    // Qt would set the place again, as the client area's. The place is the frame's (north-west
    // gravity); without a window manager the client area stands there.
    QWindow& handle = *window_.windowHandle();
    handle.resize(window_.size());
    handle.setFramePosition(corner);
    xcb_flush(connection);
}

void WindowGeometry::Listen(xcb_window_t id) {
    std::unique_ptr<xcb_connection_t, Disconnect> news(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(news.get()) != 0) {
        return;  // the window keeps the place it was given before it showed
    }
    xcb_connection_t* const c = news.get();
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, id, XCB_CW_EVENT_MASK, &mask);
    frame_extents_ = InternAtom(c, "_NET_FRAME_EXTENTS");
    net_wm_state_ = InternAtom(c, "_NET_WM_STATE");
    players_states_ = {InternAtom(c, "_NET_WM_STATE_MAXIMIZED_VERT"),
                       InternAtom(c, "_NET_WM_STATE_MAXIMIZED_HORZ"),
                       InternAtom(c, "_NET_WM_STATE_FULLSCREEN")};
    hidden_ = InternAtom(c, "_NET_WM_STATE_HIDDEN");
    // Read once the selection holds, so that every change from here comes as news. Not framed
    // yet: its parent is the root window.
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr), &std::free);
    if (geometry == nullptr) {
        return;
    }
    root_ = geometry->root;
    told_.client = QRect(geometry->x, geometry->y, geometry->width, geometry->height);
    told_.inside = told_.client->topLeft();
    id_ = id;
    news_ = std::move(news);
    news_ready_ = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(news_ready_, &QSocketNotifier::activated, this, &WindowGeometry::Drain);
}

void WindowGeometry::WatchScreen() {
    QWindow* const handle = window_.windowHandle();
    if (handle == nullptr) {
        return;
    }
    const auto watch = [this](QScreen* screen) {
        if (screen != nullptr) {
            connect(screen, &QScreen::logicalDotsPerInchChanged, this,
                    &WindowGeometry::ScreenChanged, Qt::UniqueConnection);
            connect(screen, &QScreen::geometryChanged, this, &WindowGeometry::ScreenChanged,
                    Qt::UniqueConnection);
        }
    };
    watch(handle->screen());
    connect(handle, &QWindow::screenChanged, this, [this, watch](QScreen* screen) {
        watch(screen);
        ScreenChanged();
    });
}

void WindowGeometry::ScreenChanged() {
    Check(false);
}

bool WindowGeometry::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::WindowStateChange) {
        Check(false);
    }
    return false;
}

void WindowGeometry::Drain() noexcept {
    if (news_ == nullptr) {
        return;
    }
    // Each news checked as it comes: what the player did later cannot be mistaken for what the
    // window manager did before, however far behind the game runs.
    while (xcb_generic_event_t* const raw = xcb_poll_for_event(news_.get())) {
        const ReplyPtr<xcb_generic_event_t> event(raw, &std::free);
        if (Take(*event)) {
            Judge(false);
        }
    }
}

bool WindowGeometry::Take(const xcb_generic_event_t& event) noexcept {
    switch (event.response_type & 0x7f) {
        case XCB_CONFIGURE_NOTIFY: {
            const auto& configure = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
            if (configure.window != id_) {
                return false;
            }
            const QPoint at(configure.x, configure.y);
            QRect client = told_.client.value_or(QRect());
            client.setSize({configure.width, configure.height});
            // A window manager's own notice and a window on the root tell the place on the
            // screen; otherwise the place is inside the frame, which has not moved.
            const bool synthetic = (event.response_type & 0x80) != 0;
            if (synthetic || told_.parent == XCB_NONE) {
                client.moveTopLeft(at);
            } else {
                client.translate(at - told_.inside);
            }
            if (!synthetic) {
                told_.inside = at;
            }
            told_.client = client;
            return true;
        }
        case XCB_REPARENT_NOTIFY: {
            const auto& reparent = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
            if (reparent.window != id_) {
                return false;
            }
            told_.parent = reparent.parent == root_ ? XCB_NONE : reparent.parent;
            told_.inside = QPoint(reparent.x, reparent.y);
            if (told_.parent == XCB_NONE) {
                told_.client = QRect(told_.inside, told_.client.value_or(QRect()).size());
            } else {
                told_.client = ClientNow(news_.get(), id_);  // where the new frame put it
            }
            return true;
        }
        case XCB_MAP_NOTIFY: {
            if (reinterpret_cast<const xcb_map_notify_event_t&>(event).window != id_) {
                return false;
            }
            told_.mapped = true;
            return true;
        }
        case XCB_UNMAP_NOTIFY:
            if (reinterpret_cast<const xcb_unmap_notify_event_t&>(event).window == id_) {
                told_.mapped = false;
            }
            return false;
        case XCB_PROPERTY_NOTIFY: {
            const auto& property = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            return property.window == id_ &&
                   (property.atom == frame_extents_ || property.atom == net_wm_state_);
        }
        default:
            return false;
    }
}

QRectF WindowGeometry::TargetNow(QSizeF outer_now) const {
    QRectF outer = options_.target(outer_now);
    if (X11Connection() == nullptr) {
        return outer;  // elsewhere the platform places the window, and keeps it on its screen
    }
    QScreen* screen = QGuiApplication::screenAt(outer.center().toPoint());
    if (screen == nullptr) {
        screen = window_.screen();
    }
    if (screen == nullptr) {
        return outer;
    }
    // A screen that cannot hold the window where it belongs (a small one, or one scaled so far
    // that it is small in logical pixels): the window moves up and left, no more than it must, to
    // show whole; past the top-left corner it does not go, so its caption stays in reach.
    const QRectF room(screen->availableGeometry());
    outer.moveRight(std::min(outer.right(), room.right()));
    outer.moveBottom(std::min(outer.bottom(), room.bottom()));
    outer.moveLeft(std::max(outer.left(), room.left()));
    outer.moveTop(std::max(outer.top(), room.top()));
    return outer;
}

QRect WindowGeometry::Wanted(const QRect& client, const QMargins& frame, qreal scale) const {
    const QSizeF outer_now = (QSizeF(client.size()) / scale).grownBy(Unscaled(frame, scale));
    QRect wanted = Scaled(TargetNow(outer_now), scale).marginsRemoved(frame);
    if (!options_.fit_client) {
        wanted.setSize(client.size());
    }
    const QSize least(static_cast<int>(std::ceil(options_.least_client.width() * scale)),
                      static_cast<int>(std::ceil(options_.least_client.height() * scale)));
    wanted.setSize(wanted.size().expandedTo(least));
    return wanted;
}

void WindowGeometry::Check(bool recheck) noexcept {
    Judge(recheck);
    Drain();  // what came in while the server was asked
}

void WindowGeometry::Judge(bool recheck) noexcept {
    try {
        JudgeNow(recheck);
    } catch (...) {
        // Not worth a box: the next news checks again.
    }
}

void WindowGeometry::JudgeNow(bool recheck) {
    xcb_connection_t* const c = news_.get();
    if (players_ || c == nullptr) {
        return;
    }
    // The state as the window manager has it, whether or not Qt has taken it in yet.
    const auto wm_state = Property(c, id_, net_wm_state_, XCB_ATOM_ATOM, 32);
    const auto states = Values(wm_state.get());
    const auto in_state = [&states](xcb_atom_t atom) {
        return atom != 0 && std::find(states.begin(), states.end(), atom) != states.end();
    };
    if (std::any_of(players_states_.begin(), players_states_.end(), in_state) ||
        (window_.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
        players_ = true;
        return;
    }
    // Until the window manager has framed and shown the window, the place given before it
    // showed stands (without a window manager, for good); minimised, there is nothing to see.
    const std::optional<QMargins> frame = FrameExtents(c, id_, frame_extents_);
    if (!told_.mapped || !told_.client || !frame || in_state(hidden_) ||
        (window_.windowState() & Qt::WindowMinimized)) {
        return;
    }
    const QRect client = *told_.client;
    // A re-check acts only when nothing is on its way: the server has what it last told.
    if (recheck && ClientNow(c, id_) != client) {
        return;
    }
    QScreen* const screen = window_.screen();
    const Situation situation{*frame, told_.parent, window_.devicePixelRatioF()};
    if (situation != situation_) {
        if (at_target_ && screen != screen_) {
            players_ = true;  // taken to another screen
            return;
        }
        situation_ = situation;
        at_target_.reset();
        asked_.reset();
        requests_ = 0;
    }
    if (at_target_) {
        players_ = client != *at_target_;
        return;
    }
    const QRect wanted = Wanted(client, *frame, situation.scale);
    if (Near(client, wanted, situation.scale)) {
        at_target_ = client;
        screen_ = screen;
        return;
    }
    // The same request again only when the window manager has done something since, or at a
    // re-check.
    if (requests_ >= kMostRequests || (!recheck && asked_ == wanted && asked_from_ == client)) {
        return;
    }
    ++requests_;
    asked_ = wanted;
    asked_from_ = client;
    Configure(c, id_, wanted.topLeft() - QPoint(frame->left(), frame->top()), wanted.size());
}

}  // namespace koma::app
