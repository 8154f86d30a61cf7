#include "app/board_frame.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace koma::app {

BoardFrame::BoardFrame(QWidget* parent, PressHandler on_press)
    : QWidget(parent), on_press_(std::move(on_press)) {}

void BoardFrame::paintEvent(QPaintEvent* /*event*/) {
    // The outline's four edges, each filled as the pixels it colours (a pen would be centred on
    // their edge and, on a scaled screen, fall half outside the frame).
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, width(), 1), Qt::black);
    painter.fillRect(QRect(0, height() - 1, width(), 1), Qt::black);
    painter.fillRect(QRect(0, 0, 1, height()), Qt::black);
    painter.fillRect(QRect(width() - 1, 0, 1, height()), Qt::black);
}

void BoardFrame::mousePressEvent(QMouseEvent* event) {
    // Every button and every modifier is a press alike. A double click arrives here too
    // (as its second press), so quick clicks are never lost.
    const QPointF at = event->position();
    on_press_(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
    event->accept();
}

}  // namespace koma::app
