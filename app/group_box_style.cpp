#include "app/group_box_style.h"

#include <QImage>
#include <QPainter>
#include <QStyleOption>

namespace koma::app {

GroupBoxStyle::GroupBoxStyle(QObject* owner) {
    setParent(owner);
}

void GroupBoxStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const {
    if (element != PE_FrameGroupBox) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // The frame is drawn aside, and every pixel of pure translucent black, the shade, is
    // taken out: the line itself has light in it (or is opaque) and stays as the style drew it.
    const qreal ratio = painter->device()->devicePixelRatioF();
    QImage layer((option->rect.size() * ratio), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    {
        QPainter aside(&layer);
        aside.translate(-option->rect.topLeft());
        QProxyStyle::drawPrimitive(element, option, &aside, widget);
    }
    for (int y = 0; y < layer.height(); ++y) {
        auto* const line = reinterpret_cast<QRgb*>(layer.scanLine(y));
        for (int x = 0; x < layer.width(); ++x) {
            const QRgb pixel = line[x];
            if (qRed(pixel) == 0 && qGreen(pixel) == 0 && qBlue(pixel) == 0 &&
                qAlpha(pixel) < 255) {
                line[x] = 0;
            }
        }
    }
    painter->drawImage(option->rect.topLeft(), layer);
}

}  // namespace koma::app
