// A window manager of the tests' own for a private X server, scripted: how it answers a
// window's question about its frame before the window maps (_NET_REQUEST_FRAME_EXTENTS), and
// whether it stalls while the game starts. It draws no frame: the frame is the extents it
// publishes, and it places windows inside them by their gravity as a reparenting one does. What
// it does follows what the game asks, in order, never the clock, so a loaded machine changes
// nothing of it.
#pragma once

#include <xcb/xcb.h>

#include <QColor>
#include <QMargins>
#include <QPoint>
#include <QString>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "wm_client.h"

namespace koma::xtest {

class ScriptedWm {
  public:
    enum class Telling {
        kAtOnce,     // answers the question at once (openbox, xfwm4, metacity, icewm)
        kLate,       // answers it only once it has mapped the window, the game's wait over
        kNever,      // offers the question but never answers it; tells the frame as it maps the
                     // window (fluxbox)
        kNotOffered  // does not offer it; tells the frame once it has mapped the window (KWin)
    };
    struct Script {
        Telling telling = Telling::kAtOnce;
        // Takes nothing in until a window asks to be mapped, then all of it in order: a window
        // manager held up while the game starts.
        bool stalls = false;
    };
    static constexpr QMargins kFrame{4, 24, 4, 4};

    ScriptedWm(const QString& display, Script script);
    ScriptedWm(const ScriptedWm&) = delete;
    ScriptedWm& operator=(const ScriptedWm&) = delete;
    ~ScriptedWm();

    bool ok() const { return thread_.joinable(); }  // it manages the screen
    // Every placement the first window it mapped had while mapped, in order.
    std::vector<WmClient::Placement> Placements() const;
    // The colour of that window's client area (right of the board) the moment it was mapped,
    // before the window could paint anything.
    std::optional<QColor> ColourAtMapping() const;
    // Moves that window by `by`, as a player dragging its frame does.
    void MoveAsThePlayer(QPoint by);
    // The window's own requests to move or resize it since the player moved it.
    int RequestsSinceThePlayer() const;

  private:
    void Run();
    void Handle(const xcb_generic_event_t& event);
    void Map(xcb_window_t window);
    void Configure(const xcb_configure_request_event_t& request);
    void Place(xcb_window_t window, QRect client);
    void Tell(xcb_window_t window);
    std::uint32_t Gravity(xcb_window_t window) const;

    struct Disconnect {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };
    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
    xcb_window_t root_ = 0;
    Script script_;
    xcb_atom_t request_ = 0;
    xcb_atom_t extents_ = 0;
    xcb_atom_t normal_hints_ = 0;
    std::set<xcb_window_t> managed_;  // mapped by it
    std::set<xcb_window_t> told_;     // whose frame it has published
    bool stalled_ = false;
    std::vector<ReplyPtr<xcb_generic_event_t>> held_;

    mutable std::mutex mutex_;  // guards what follows, read by the test's thread
    xcb_window_t first_ = 0;
    std::vector<WmClient::Placement> placements_;
    std::optional<QColor> colour_at_mapping_;
    std::optional<QPoint> player_move_;
    bool player_moved_ = false;
    int requests_since_player_ = 0;

    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace koma::xtest
