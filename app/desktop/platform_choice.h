// Which windowing system the game opens its window on, decided before Qt starts.
#pragma once

#include <memory>
#include <string>

struct xcb_connection_t;

namespace koma::app {

struct XConnectionCloser {
    void operator()(xcb_connection_t* connection) const;
};

struct PlatformChoice {
    std::string platform;  // Qt's platform plugin name; empty: Qt's own choice
    std::string problem;   // why no display can be used; empty when one can
    // The X connection that answered, kept open while the game runs: an X server that loses
    // its last client resets, and Qt's own connection made during the reset would fail.
    std::unique_ptr<xcb_connection_t, XConnectionCloser> x_connection;
};

// X11 (xcb) when an X server answers, so the window opens at its fixed place; else native
// Wayland; else a one-line `problem`. A QT_QPA_PLATFORM the user set is left to Qt, unless
// none of the displays it needs answers (a `problem` too). Keep the result until the
// application object exists.
PlatformChoice ChoosePlatform();

// Hands the choice to Qt, or says the problem on stderr and ends the program with status 1.
void ApplyPlatformChoice(const PlatformChoice& choice);

// Lives while the application object is built. Qt's messages meanwhile are held back and passed
// on when it ends; Qt's fatal one (QT_QPA_PLATFORM names a platform that does not start)
// instead ends the program with one line on stderr and status 1, in place of Qt's abort.
class PlatformStartGuard {
  public:
    PlatformStartGuard();
    ~PlatformStartGuard();
    PlatformStartGuard(const PlatformStartGuard&) = delete;
    PlatformStartGuard& operator=(const PlatformStartGuard&) = delete;
};

// Names the menu entry the window belongs to (the Wayland app id), so desktops show its icon.
void SetDesktopIdentity();

}  // namespace koma::app
