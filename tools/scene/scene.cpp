#include "scene.h"

#include <QPainter>
#include <QRect>

#include <algorithm>
#include <array>
#include <cstddef>

#include "board/layout.h"
#include "figures.h"
#include "palette.h"

namespace koma::scene {
namespace {

// Home plate sits in the bottom-right cell; the diamond fills the middle of the picture and
// the outfield reaches into the top-left corner.
const Diamond kField{{310, 310}, 175};

struct Fielder {
    QPointF feet;
    Pose pose;
    GloveSide glove;
};

// Eight fielders facing home plate; the catcher is drawn on his own. Several of them stand
// across a tile border, so that their pieces have to be matched up.
std::array<Fielder, 8> Fielders() {
    return {{
        {{50, 78}, Pose::kWaving, GloveSide::kRight},    // centre field
        {{191, 72}, Pose::kGloveUp, GloveSide::kRight},  // right field, across two tiles
        {{45, 262}, Pose::kReady, GloveSide::kRight},    // left field
        {{332, 126}, Pose::kReady, GloveSide::kLeft},    // first base, head in the tile above
        {{240, 172}, Pose::kReady, GloveSide::kRight},   // second base
        {{112, 221}, Pose::kReady, GloveSide::kRight},   // shortstop, head in the tile above
        {{158, 300}, Pose::kReady, GloveSide::kRight},   // third base, legs in the tile below
        {kField.Rubber() + QPointF(0, 7), Pose::kPitching, GloveSide::kRight},
    }};
}

void DrawFielders(QPainter& painter) {
    std::array<Fielder, 8> fielders = Fielders();
    // Those further up stand further away and are drawn first.
    std::sort(fielders.begin(), fielders.end(),
              [](const Fielder& a, const Fielder& b) { return a.feet.y() < b.feet.y(); });
    for (const Fielder& fielder : fielders) {
        DrawPlayer(painter, fielder.feet, fielder.pose, fielder.glove);
    }
}

QRect TileRect(QPoint cell, int scale) {
    const int size = kTileSize * scale;
    return {cell.x() * size, cell.y() * size, size, size};
}

QImage NewImage(int size, QRgb colour) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

}  // namespace

QImage DrawScene(int scale) {
    QImage scene = NewImage(kSceneSize * scale, kGrass);
    QPainter painter(&scene);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.scale(scale, scale);
    DrawDiamond(painter, kField);
    DrawBat(painter, {262, 363}, {318, 354});
    DrawDog(painter, {92, 372});
    DrawFielders(painter);
    DrawCatcher(painter, {352, 345});
    painter.end();
    return scene;
}

QPoint GoalCell(int tile) {
    const Cell cell = GoalLayout.Find(tile);
    return {cell.x, cell.y};
}

QImage CutTile(const QImage& scene, int tile, int scale) {
    return scene.copy(TileRect(GoalCell(tile), scale));
}

QImage BlankPicture(int scale) {
    QImage blank = NewImage(kTileSize * scale, kBlankGreen);
    QPainter painter(&blank);
    painter.scale(scale, scale);
    // A speck a third of the way in, just above the middle: grey, black, light and dark grey.
    painter.fillRect(QRectF(31, 46, 1, 1), QColor(128, 128, 128));
    painter.fillRect(QRectF(32, 46, 1, 1), QColor(0, 0, 0));
    painter.fillRect(QRectF(31, 47, 1, 1), QColor(192, 192, 192));
    painter.fillRect(QRectF(32, 47, 1, 1), QColor(64, 64, 64));
    painter.end();
    return blank;
}

QImage SolvedPicture(int scale) {
    QImage solved = DrawScene(scale);
    QPainter painter(&solved);
    painter.drawImage(TileRect(GoalCell(kBlank), scale).topLeft(), BlankPicture(scale));
    painter.end();
    return solved;
}

QImage IconPicture(int size) {
    // The third baseman by his base, where the white lines meet: a player and the diamond at
    // a glance. Each size is cut from the scene drawn at the scale that fits it pixel for
    // pixel; the small sizes come closer, down to his face and shirt.
    struct Cut {
        int size;
        QRect units;  // in 1x scene pixels
        int scale;
    };
    const QRect player_and_base(122, 252, 64, 64);
    const std::array<Cut, 6> cuts = {{
        {256, player_and_base, 4},
        {128, player_and_base, 2},
        {64, player_and_base, 1},
        {48, player_and_base, 2},
        {32, QRect(142, 254, 32, 32), 1},
        {16, QRect(150, 254, 16, 16), 1},
    }};
    const auto* const cut = std::find_if(
        cuts.begin(), cuts.end(), [size](const Cut& candidate) { return candidate.size == size; });
    const Cut chosen = cut != cuts.end() ? *cut : cuts.front();
    const QImage scene = DrawScene(chosen.scale);
    QImage piece = scene.copy(
        QRect(chosen.units.topLeft() * chosen.scale, chosen.units.size() * chosen.scale));
    if (piece.width() == size) {
        return piece;
    }
    return piece.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

std::vector<Asset> AllAssets() {
    std::vector<Asset> assets;
    for (const int scale : {1, 2}) {
        const QImage scene = DrawScene(scale);
        const QString suffix = scale == 1 ? QString() : QStringLiteral("@2x");
        for (int tile = 0; tile < kTileCount; ++tile) {
            const QString name =
                QStringLiteral("tiles/tile%1%2.png").arg(tile, 2, 10, QLatin1Char('0')).arg(suffix);
            assets.push_back(
                {name, tile == kBlank ? BlankPicture(scale) : CutTile(scene, tile, scale)});
        }
    }
    assets.push_back({QStringLiteral("scene.png"), SolvedPicture(1)});
    for (const int size : kIconSizes) {
        assets.push_back({QStringLiteral("icons/koma-%1.png").arg(size), IconPicture(size)});
    }
    return assets;
}

}  // namespace koma::scene
