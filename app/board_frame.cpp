#include "app/board_frame.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace koma::app {

BoardFrame::BoardFrame(QWidget* parent, PressHandler on_press)
    : QWidget(parent), on_press_(std::move(on_press)) {}

void BoardFrame::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    // A 1-pixel rectangle covers width × height pixels including both far edges.
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

void BoardFrame::mousePressEvent(QMouseEvent* event) {
    // Every button and every modifier is a press alike. A double click arrives here too
    // (as its second press), so quick clicks are never lost.
    const QPointF at = event->position();
    on_press_(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
    event->accept();
}

}  // namespace koma::app
