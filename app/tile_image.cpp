#include "app/tile_image.h"

#include <QPainter>

#include "board/layout.h"

namespace koma::app {

TileImage::TileImage(const QString& resource, QWidget* parent)
    : QWidget(parent), resource_(resource), normal_(resource) {
    setFixedSize(kPictureSize, kPictureSize);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

const QPixmap& TileImage::PixmapFor(qreal device_pixel_ratio) {
    // Below one and a half, the picture made for the scale of one is the nearer.
    if (device_pixel_ratio < 1.5) {
        return normal_;
    }
    if (sharp_.isNull()) {
        QString name = resource_;
        name.insert(name.lastIndexOf(QLatin1Char('.')), QStringLiteral("@2x"));
        if (!sharp_.load(name)) {
            return normal_;
        }
        sharp_.setDevicePixelRatio(2.0);
    }
    return sharp_;
}

void TileImage::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawPixmap(0, 0, PixmapFor(devicePixelRatioF()));
}

}  // namespace koma::app
