// The game's way into X11 beside Qt: the connection Qt opened, its atoms, and a watch on the
// events the application receives before Qt handles them. On other platforms there is no
// connection and the watch is told nothing.
#pragma once

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <cstdint>
#include <string_view>

namespace koma::app {

// Qt's own X11 connection; nullptr on other platforms. Needs the application object.
xcb_connection_t* X11Connection();

// The atom named `name`, made if it does not exist yet; 0 when the server does not answer.
std::uint32_t InternAtom(xcb_connection_t* connection, std::string_view name);

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
