// The window manager's side of a private X server, for the real-window tests: it pings a
// window as a desktop does to see that it is alive, and reads the screen without a helper
// process, fast enough to see every step of a solve.
#pragma once

#include <xcb/xcb.h>

#include <QByteArray>
#include <QImage>
#include <QMargins>
#include <QRect>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace koma::xtest {

// A reply of the X server's, freed with it.
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

// The atom named `name`, made if need be; XCB_ATOM_NONE when the server does not answer.
xcb_atom_t Atom(xcb_connection_t* connection, const char* name);

class WmClient {
  public:
    explicit WmClient(const QString& display);

    bool ok() const { return connection_ != nullptr; }
    // Sends `window` a _NET_WM_PING numbered `serial`.
    void Ping(std::uint32_t window, std::uint32_t serial) const;
    // Asks `window` to close, as a close box does (WM_DELETE_WINDOW), and waits until the
    // server has the request.
    void RequestClose(std::uint32_t window) const;
    // The numbers of the pings answered since the last call.
    std::vector<std::uint32_t> Answers() const;
    // A part of the screen, in screen coordinates; null if it cannot be read.
    QImage Grab(const QRect& area) const;
    // Where a window's client area lies on the screen, and the frame the window manager says
    // it put around it (_NET_FRAME_EXTENTS; none without one).
    struct Placement {
        QRect client;
        QMargins frame;
        qint64 seen_ms = 0;  // when PlacementWatch saw it, from its start
        QRect Outer() const { return client.marginsAdded(frame); }
    };
    std::optional<Placement> Place(std::uint32_t window) const;
    // Polls the placement of `window` until `done` holds (a window manager frames a window some
    // time after it shows) or `timeout_ms` has passed; the last placement seen.
    std::optional<Placement> WaitForPlacement(std::uint32_t window,
                                              const std::function<bool(const Placement&)>& done,
                                              int timeout_ms = 10000) const;
    // Whether `window` and all its ancestors are mapped.
    bool Viewable(std::uint32_t window) const;
    // The window's WM_NAME, and the class in its WM_CLASS.
    QString Name(std::uint32_t window) const;
    QString Class(std::uint32_t window) const;
    // The frame the window manager says, before a window is mapped, that it will give it
    // (_NET_REQUEST_FRAME_EXTENTS); nothing when it does not tell or says none. Mutter from 44
    // on cannot: its frames are drawn by another client of its own once the window shows.
    std::optional<QMargins> FrameToldBeforeMapping() const;
    // The top-level windows made since the last call (needs WatchCreation first).
    std::vector<std::uint32_t> Created() const;
    // From now on, tells of new top-level windows instead of answered pings.
    void WatchCreation() const;

  private:
    struct Disconnect {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };
    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
    xcb_window_t root_ = 0;
    xcb_atom_t wm_protocols_ = 0;
    void SendProtocol(std::uint32_t window, xcb_atom_t protocol, std::uint32_t stamp) const;
    QByteArray Text(std::uint32_t window, std::uint32_t property) const;

    xcb_atom_t net_wm_ping_ = 0;
    xcb_atom_t wm_delete_window_ = 0;
    xcb_atom_t net_frame_extents_ = 0;
};

// Follows where a window of a given name shows on the screen from before it exists, as fast as
// the server answers, so that even the window manager's first placement is seen.
class PlacementWatch {
  public:
    // Starts watching at once: make it before the program whose window it follows.
    explicit PlacementWatch(const QString& display);

    // Each placement the window `name` showed in while viewable, in order, once it has kept the
    // last one for `settle_ms`; what was seen so far after `timeout_ms`.
    std::vector<WmClient::Placement> Follow(const QString& name, int settle_ms, int timeout_ms);
    // The window found by Follow; 0 if none.
    std::uint32_t window() const { return window_; }

  private:
    WmClient client_;
    std::vector<std::uint32_t> created_;
    std::uint32_t window_ = 0;
};

}  // namespace koma::xtest
