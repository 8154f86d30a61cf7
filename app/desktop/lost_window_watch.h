// Treats a window of ours that someone else destroyed (xdotool windowclose, a crashed window
// manager's clean-up) as closed. Qt does not notice such a loss: the program would run on
// without a window, and a modal box's loop would never return.
#pragma once

#include "app/desktop/xcb_event.h"

namespace koma::app {

// Watches every top-level widget of the application from now until destroyed. Needs the
// application object; does nothing on platforms other than X11.
class LostWindowWatch : public XcbEventWatch {
  protected:
    void Seen(std::uint8_t type, const xcb_generic_event_t& event) override;
};

}  // namespace koma::app
