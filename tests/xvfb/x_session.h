// A private X server (Xvfb) with the real game in it, driven and photographed from outside.
#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include "app/form1.h"
#include "board/grid.h"

namespace koma::xtest {

// Without a window manager the client area sits exactly at the window's place.
inline constexpr int kClientLeft = app::TForm1::kLeft;
inline constexpr int kClientTop = app::TForm1::kTop;

class XServer {
  public:
    // Starts one with a screen of `screen` pixels; ok() tells whether it answers.
    explicit XServer(QSize screen = {1024, 768});
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    ~XServer();

    bool ok() const { return !display_.isEmpty(); }
    const QString& display() const { return display_; }

    // Runs an X client (xdotool, import…) against this server and returns its output.
    QByteArray Run(const QString& program, const QStringList& arguments,
                   int timeout_ms = 20000) const;
    QImage Screenshot() const;
    // Presses and releases a mouse button at a screen position.
    void Click(int x, int y, int button = 1) const;
    // The id of the first window with exactly this name, waiting up to timeout_ms; empty if none.
    QString WaitForWindow(const QString& name, int timeout_ms) const;
    // A shown window of the game's (they are all titled "KOMA") other than `other`, waiting up
    // to timeout_ms; empty if none.
    QString WaitForAnotherWindow(const QString& other, int timeout_ms) const;
    // Whether the game's window `window` is gone within timeout_ms.
    bool WaitUntilGone(const QString& window, int timeout_ms) const;
    // The ids of every shown window of the game's with exactly this name (as title and class).
    QStringList Windows(const QString& name) const;
    // Asks a window to close as a window manager's close box does (WM_DELETE_WINDOW).
    bool RequestClose(const QString& window) const;
    // Starts a real window manager on this server: "openbox", or one of those the desktop
    // matrix knows (WindowManagerCommand); false, with the reason in `why`, when it cannot.
    bool StartWindowManager(QString& why, const QString& name = QStringLiteral("openbox"));
    // Stops the window manager started here, or lets it go on: a desktop held up at login.
    void HoldWindowManager(bool held) const;

  private:
    QProcess xvfb_;
    QProcess window_manager_;  // in a process group of its own, with its session bus
    QTemporaryDir runtime_;    // the window manager's XDG_RUNTIME_DIR
    QString display_;
};

// How a window manager is started on a bare X server, e.g. mutter with a session bus of its own.
QStringList WindowManagerCommand(const QString& name);

// Busy loops beside the game for as long as this lives: a loaded desktop.
class CpuLoad {
  public:
    explicit CpuLoad(int loops);
    ~CpuLoad();
    CpuLoad(const CpuLoad&) = delete;
    CpuLoad& operator=(const CpuLoad&) = delete;

  private:
    std::vector<std::unique_ptr<QProcess>> loops_;
};

// What the game runs with on `x`: its display, silent audio, none of the caller's Qt settings.
QProcessEnvironment GameEnvironment(const XServer& x);

// The game started in a folder of its own with its two sound files, silent audio.
class Game {
  public:
    // `environment` (NAME=value) is added to the game's environment last; `program` is the
    // game built here unless given.
    Game(const XServer& x, const QStringList& arguments = {}, bool with_music = true,
         const QStringList& environment = {}, const QString& program = {});
    ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    QProcess& process() { return process_; }
    QString folder() const { return folder_.path(); }

  private:
    QTemporaryDir folder_;
    QProcess process_;
};

// The xdotool arguments that solve the start arrangement as a player would: each click is on
// the cell the blank moves to, for a client area whose top-left pixel is at `client` on screen.
QStringList ClicksToSolveFromTheStart(QPoint client);

}  // namespace koma::xtest
