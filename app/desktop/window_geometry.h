// Where a top-level window stands and how large it is, by one rule:
//
//   A window has a target, an outer rectangle (frame and caption included) in the window's
//   logical pixels: the game's window (318, 191, 499 × 509), its client area never smaller than
//   its controls need; a box its own size, centred on its screen. Before the window first shows
//   it is given the target as far as the window manager tells its frame by then. After that,
//   whenever the window system tells something new (the frame's extents, a configure, a
//   reparent, a map, a change of state, of screen or of scale), what is is compared with the
//   target and the window is brought to it. Once the window has stood at its target, a change of
//   its place or size that comes with no new frame, parent or scale is the player's, and so is a
//   maximised or full-screen state (the game asks for neither): from then on the window is left
//   as the player has it.
//
// Until the window has stood at its target nothing is taken for the player's doing: the player
// can move a window only once the window manager has framed it, and then the window goes to its
// target at once. The news are followed on a connection of the unit's own, every one in the order
// the server sent it (Qt's connection folds a window's configures together when the game falls
// behind), so a window manager that answers late is never mistaken for the player, however
// loaded the machine. What no news told is caught by re-checks at fixed times after the first
// showing; the requests made for one frame and scale are few, so a window manager that will not
// have the target is not fought. On X11 a target that would hang off its screen's free area is
// moved onto it, as little as it must, so that every control shows.
//
// The window manager works in the screen's pixels: on a scaled screen the target is scaled by the
// window's device pixel ratio, and place and size count as reached within the rounding that
// scaling brings. Elsewhere than on X11 the window gets its target before it shows and no more:
// the platform places it.
#pragma once

#include <xcb/xcb.h>

#include <QColor>
#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QScreen;
class QSocketNotifier;
class QWidget;

namespace koma::app {

class WindowGeometry : public QObject {
  public:
    // The outer rectangle the window belongs in, in logical pixels, given the outer size it has
    // around its client area as it is now.
    using Target = std::function<QRectF(QSizeF outer_now)>;

    struct Options {
        Target target;
        // The client area is fitted to the target's size less the frame, and is never smaller
        // than `least_client` (which it has until the frame is known). Otherwise it keeps its size.
        bool fit_client = false;
        QSize least_client;
        // The native window's own colour, seen from the moment it maps until the first paint.
        std::optional<QColor> first_colour;
        // Whether to wait, before the window shows, for the window manager to tell its frame.
        bool ask_frame = true;
    };

    // The game's window: the outer rectangle `outer`, its client area at least `least_client`.
    static Options FixedOuter(const QRect& outer, QSize least_client, QColor first_colour);
    // A box of its own size, its frame centred on `screen`.
    static Options CentredOn(QScreen* screen, bool ask_frame);

    WindowGeometry(QWidget& window, Options options);
    WindowGeometry(const WindowGeometry&) = delete;
    WindowGeometry& operator=(const WindowGeometry&) = delete;
    ~WindowGeometry() override;

    // Run when the window is about to show, once its size is final (its showEvent): the first
    // time, places it before it maps; later, checks it again.
    void BeforeShowing();

    // Whether the window manager was asked for the frame before the window showed and said
    // nothing within the wait: other windows need not wait for it again.
    bool ManagerStayedSilent() const { return manager_silent_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What the window manager and the screen have decided for the window.
    struct Situation {
        QMargins frame;
        xcb_window_t parent = 0;
        qreal scale = 1;
        bool operator==(const Situation&) const = default;
    };
    // What the X server has told of the window, in the order it told it.
    struct Told {
        std::optional<QRect> client;  // on the screen, in device pixels
        QPoint inside;                // its place inside its parent
        xcb_window_t parent = 0;      // 0: the root window
        bool mapped = false;
    };
    struct Disconnect {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };

    void PlaceBeforeMapping(xcb_connection_t* connection, xcb_window_t id);
    void Listen(xcb_window_t id);
    void WatchScreen();
    void ScreenChanged();
    // Takes in what the server has told since, in order, judging after each news.
    void Drain() noexcept;
    // Follows one event; true when it is news of the window.
    bool Take(const xcb_generic_event_t& event) noexcept;
    // Judges, then takes in what came meanwhile: for news from elsewhere than the server.
    void Check(bool recheck) noexcept;
    // Compares the window as last told with its target and asks for the target where they
    // differ. A re-check may ask again what was asked before.
    void Judge(bool recheck) noexcept;
    void JudgeNow(bool recheck);
    // The target, kept on the screen it stands on.
    QRectF TargetNow(QSizeF outer_now) const;
    // The client rectangle the target asks for, in device pixels, around `client` as it is now.
    QRect Wanted(const QRect& client, const QMargins& frame, qreal scale) const;

    QWidget& window_;
    Options options_;
    bool placed_ = false;
    bool manager_silent_ = false;
    bool players_ = false;  // the player has moved, resized or maximised the window
    // The unit's own connection to the X server, and what it hears there.
    std::unique_ptr<xcb_connection_t, Disconnect> news_;
    QSocketNotifier* news_ready_ = nullptr;
    xcb_window_t id_ = 0;
    xcb_window_t root_ = 0;
    Told told_;
    std::optional<Situation> situation_;
    QPointer<QScreen> screen_;        // where the window stood at its target
    std::optional<QRect> at_target_;  // the client rectangle there, in device pixels
    std::optional<QRect> asked_;      // the last request, and what it was made from
    std::optional<QRect> asked_from_;
    int requests_ = 0;  // for the present situation
    // Atoms, on the unit's connection.
    xcb_atom_t frame_extents_ = 0;
    xcb_atom_t net_wm_state_ = 0;
    std::array<xcb_atom_t, 3> players_states_{};  // maximised either way, full screen
    xcb_atom_t hidden_ = 0;
};

}  // namespace koma::app
