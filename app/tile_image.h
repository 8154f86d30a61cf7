// One tile's picture: a fixed 95 × 95 bitmap drawn unscaled. It never takes mouse input.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

namespace koma::app {

class TileImage : public QWidget {
  public:
    // `resource` names the 1× picture; a "@2x" twin, when present, on screens scaled by 1.5 or
    // more.
    TileImage(const QString& resource, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const QPixmap& PixmapFor(qreal device_pixel_ratio);

    QString resource_;
    QPixmap normal_;
    QPixmap sharp_;  // loaded the first time a scaled screen asks for it
};

}  // namespace koma::app
