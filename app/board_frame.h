// The frame laid over the whole board: a black outline with a see-through inside. Every press
// on the board lands here, whatever picture or grid line lies under it.
#pragma once

#include <QWidget>
#include <functional>

namespace koma::app {

class BoardFrame : public QWidget {
  public:
    // Receives the press position relative to the frame's top-left corner.
    using PressHandler = std::function<void(int x, int y)>;

    BoardFrame(QWidget* parent, PressHandler on_press);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    PressHandler on_press_;
};

}  // namespace koma::app
