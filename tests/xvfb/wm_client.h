// The window manager's side of a private X server, for the real-window tests: it pings a
// window as a desktop does to see that it is alive, and reads the screen without a helper
// process, fast enough to see every step of a solve.
#pragma once

#include <xcb/xcb.h>

#include <QImage>
#include <QMargins>
#include <QRect>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace koma::xtest {

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
        QRect Outer() const { return client.marginsAdded(frame); }
    };
    std::optional<Placement> Place(std::uint32_t window) const;

  private:
    struct Disconnect {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };
    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
    xcb_window_t root_ = 0;
    xcb_atom_t wm_protocols_ = 0;
    void SendProtocol(std::uint32_t window, xcb_atom_t protocol, std::uint32_t stamp) const;

    xcb_atom_t net_wm_ping_ = 0;
    xcb_atom_t wm_delete_window_ = 0;
    xcb_atom_t net_frame_extents_ = 0;
};

}  // namespace koma::xtest
