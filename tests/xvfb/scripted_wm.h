// A window manager of the tests' own, scripted: how it answers a window's question about its
// frame before the window maps (_NET_REQUEST_FRAME_EXTENTS), and whether it stalls while the game
// starts. It draws no frame: the frame is the extents it publishes, and a window's place is the
// frame's (north-west gravity, as the game asks). What it does follows what the game asks, in
// order, never the clock, so a loaded machine changes nothing of it.
#pragma once

#include <xcb/xcb.h>

#include <QColor>
#include <QMargins>
#include <QString>
#include <atomic>
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
        kAtOnce,     // answers at once (openbox, xfwm4, metacity, icewm)
        kLate,       // answers once it has mapped the window, the game's wait over
        kNever,      // says it answers but does not; tells the frame as it maps (fluxbox)
        kNotOffered  // does not offer the question; tells the frame once it has mapped (KWin)
    };
    struct Script {
        Telling telling = Telling::kAtOnce;
        bool stalls = false;  // takes nothing in until a window asks to be mapped, then all
    };
    static constexpr QMargins kFrame{4, 24, 4, 4};

    ScriptedWm(const QString& display, Script script);
    ScriptedWm(const ScriptedWm&) = delete;
    ScriptedWm& operator=(const ScriptedWm&) = delete;
    ~ScriptedWm();

    bool ok() const { return thread_.joinable(); }  // it manages the screen
    // Each placement of the first window it mapped, from the mapping on.
    std::vector<WmClient::Placement> Placements() const;
    // That window's colour right of the board the moment it was mapped, before it could paint.
    std::optional<QColor> ColourAtMapping() const;
    // Moves that window by `by`, as a player dragging its frame does; then counts the window's
    // own requests to move or resize it.
    void MoveAsThePlayer(QPoint by);
    int RequestsSinceThePlayer() const;

  private:
    void Run();
    void Handle(const xcb_generic_event_t& event);
    void Map(xcb_window_t window);
    void Configure(const xcb_configure_request_event_t& request);
    void Place(xcb_window_t window, const QRect& client);
    void Tell(xcb_window_t window);

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_;
    Script script_;
    xcb_atom_t request_ = 0;
    xcb_atom_t extents_ = 0;
    std::set<xcb_window_t> managed_;
    std::set<xcb_window_t> told_;
    bool stalled_ = false;
    std::vector<ReplyPtr<xcb_generic_event_t>> held_;

    mutable std::mutex mutex_;  // guards what follows, which the test's thread reads
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
