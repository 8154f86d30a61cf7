// What the game needs from the screen. The window implements it; tests and tools fake it.
#pragma once

#include <string_view>

namespace koma {

class View {
  public:
    View() = default;
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    virtual ~View() = default;

    // Moves the picture of `tile` (0 is the blank's picture) so its top-left pixel is at
    // (left, top) in client coordinates. It shows at the next repaint.
    virtual void MoveTilePicture(int tile, int left, int top) = 0;
    // Paints the whole window now, before returning, without running the event loop.
    virtual void RepaintNow() = 0;
    // Between the solver's steps, after the repaint: answers what the window system asks of a
    // live window (pings, exposes, moves by the window manager). Player input (and X11's close
    // request) keeps waiting until the solve has returned; of the game's own queued events only
    // those the window holds back while it solves wait too, the rest runs here.
    virtual void AnswerDesktop() = 0;
    // A modal notice titled "KOMA" with one OK button; returns once the player closed it.
    virtual void ShowNotice(std::string_view text) = 0;
    // The sound switch.
    virtual bool IsSoundOn() const = 0;
    // Starts the completion sound without waiting for it to end. The window's first call loads
    // the sound module; a sound output that must be opened for it is waited for a second at
    // most, and one whose sound server has stopped answering not at all.
    virtual void PlayEffect() = 0;
    // The solver button. Its shown state is also the game-active flag: hidden locks the board.
    virtual void SetSolverButtonVisible(bool visible) = 0;
    virtual bool IsSolverButtonVisible() const = 0;

  protected:
    View(View&&) = default;
    View& operator=(View&&) = default;
};

}  // namespace koma
