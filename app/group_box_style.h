// The application's style for a group box, less the shade some styles lay over its inside: the
// box and what it holds show exactly the window's own colour, inside the style's frame line.
#pragma once

#include <QProxyStyle>

namespace koma::app {

class GroupBoxStyle : public QProxyStyle {
  public:
    // Follows the application's style; `owner` deletes it.
    explicit GroupBoxStyle(QObject* owner);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
};

}  // namespace koma::app
