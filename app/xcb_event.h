// A watch on the X11 events the application receives, before Qt handles them. It installs
// itself for its lifetime and tells a subclass of each X11 event; Qt still sees every event.
// On other platforms it is told nothing.
#pragma once

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <cstdint>

namespace koma::app {

class XcbEventWatch : public QAbstractNativeEventFilter {
  public:
    XcbEventWatch();  // needs the application object
    XcbEventWatch(const XcbEventWatch&) = delete;
    XcbEventWatch& operator=(const XcbEventWatch&) = delete;
    ~XcbEventWatch() override;

    bool nativeEventFilter(const QByteArray& event_type, void* message, qintptr* result) final;

  protected:
    // `event` is of `type` (also when another client sent it).
    virtual void Seen(std::uint8_t type, const xcb_generic_event_t& event) = 0;
};

}  // namespace koma::app
