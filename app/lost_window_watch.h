// Treats a window of ours that someone else destroyed (xdotool windowclose, a crashed window
// manager's clean-up) as closed. Qt does not notice such a loss: the program would run on
// without a window, and a modal box's loop would never return.
#pragma once

#include <QAbstractNativeEventFilter>

namespace koma::app {

class LostWindowWatch : public QAbstractNativeEventFilter {
  public:
    // Watches every top-level widget of the application from now until destroyed. Needs the
    // application object; does nothing on platforms other than X11.
    LostWindowWatch();
    LostWindowWatch(const LostWindowWatch&) = delete;
    LostWindowWatch& operator=(const LostWindowWatch&) = delete;
    ~LostWindowWatch() override;

    bool nativeEventFilter(const QByteArray& event_type, void* message, qintptr* result) override;
};

}  // namespace koma::app
