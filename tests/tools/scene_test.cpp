#include "tools/scene/scene.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPainter>

#include <algorithm>
#include <cstddef>
#include <map>

#include "board/layout.h"
#include "tools/scene/palette.h"

namespace koma::scene {
namespace {

bool InPalette(QRgb pixel) {
    return std::find(kPalette.begin(), kPalette.end(), pixel | 0xFF000000U) != kPalette.end();
}

// Share of the pixels of `image` for which `wanted` holds.
template <typename Predicate>
double Share(const QImage& image, Predicate wanted) {
    long long hits = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            hits += wanted(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return static_cast<double>(hits) / (image.width() * image.height());
}

double ShareOf(const QImage& image, QRgb colour) {
    return Share(image, [colour](QRgb pixel) { return (pixel | 0xFF000000U) == colour; });
}

// Share of the pixels that two images of one size have in common.
double Agreement(const QImage& a, const QImage& b) {
    long long same = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            same += a.pixel(x, y) == b.pixel(x, y) ? 1 : 0;
        }
    }
    return static_cast<double>(same) / (a.width() * a.height());
}

QImage Rgb(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB32);
}

// Every picture the generator makes, by its path under assets/, drawn once for all tests.
const std::map<QString, QImage>& Assets() {
    static const std::map<QString, QImage> assets = [] {
        std::map<QString, QImage> drawn;
        for (Asset& asset : AllAssets()) {
            drawn[asset.path] = Rgb(asset.image);
        }
        return drawn;
    }();
    return assets;
}

const QImage& Tile(int tile, int scale) {
    const QString suffix = scale == 2 ? QStringLiteral("@2x") : QString();
    return Assets().at(
        QStringLiteral("tiles/tile%1%2.png").arg(tile, 2, 10, QLatin1Char('0')).arg(suffix));
}

TEST(SceneTest, TilesAndIconsHaveTheirSizes) {
    for (int tile = 0; tile < kTileCount; ++tile) {
        EXPECT_EQ(Tile(tile, 1).size(), QSize(95, 95)) << "tile " << tile;
        EXPECT_EQ(Tile(tile, 2).size(), QSize(190, 190)) << "tile " << tile;
    }
    EXPECT_EQ(Assets().at(QStringLiteral("scene.png")).size(), QSize(380, 380));
    for (const int size : kIconSizes) {
        EXPECT_EQ(Assets().at(QStringLiteral("icons/koma-%1.png").arg(size)).size(),
                  QSize(size, size));
    }
}

// Laying the tiles out in the goal arrangement must give back the whole scene.
TEST(SceneTest, GoalArrangementOfTheTilesIsTheScene) {
    for (const int scale : {1, 2}) {
        QImage board(kSceneSize * scale, kSceneSize * scale, QImage::Format_RGB32);
        QPainter painter(&board);
        for (int x = 0; x < kColumns; ++x) {
            for (int y = 0; y < kRows; ++y) {
                const int tile = GoalLayout[x][y];
                painter.drawImage(QPoint(x, y) * kTileSize * scale, Tile(tile, scale));
            }
        }
        painter.end();
        EXPECT_EQ(board, Rgb(SolvedPicture(scale))) << "scale " << scale;
        if (scale == 1) {
            EXPECT_EQ(board, Assets().at(QStringLiteral("scene.png")));
        }
    }
}

TEST(SceneTest, PictureTilesUseTheFlatPalette) {
    double worst = 1.0;
    for (const int scale : {1, 2}) {
        for (int tile = 1; tile < kTileCount; ++tile) {
            const double share = Share(Tile(tile, scale), InPalette);
            worst = std::min(worst, share);
            EXPECT_GE(share, 0.99) << "tile " << tile << " at scale " << scale;
        }
    }
    RecordProperty("worst_palette_share", QString::number(worst).toStdString());
}

// Every tile shows something besides grass, and no two look the same.
TEST(SceneTest, EveryTileIsDistinct) {
    for (const int scale : {1, 2}) {
        for (int tile = 1; tile < kTileCount; ++tile) {
            EXPECT_LE(ShareOf(Tile(tile, scale), kGrass), 0.97) << "tile " << tile;
            for (int other = 0; other < tile; ++other) {
                EXPECT_NE(Tile(tile, scale), Tile(other, scale)) << tile << " and " << other;
            }
        }
    }
}

TEST(SceneTest, BlankIsPlainButForItsDot) {
    for (const int scale : {1, 2}) {
        const QImage& blank = Tile(kBlank, scale);
        // The dot: 2 x 2 pixels (4 x 4 at scale 2) of greys and black, a third of the way in.
        const QRect dot(31 * scale, 46 * scale, 2 * scale, 2 * scale);
        int black = 0;
        for (int y = 0; y < blank.height(); ++y) {
            for (int x = 0; x < blank.width(); ++x) {
                const QRgb pixel = blank.pixel(x, y);
                if (!dot.contains(x, y)) {
                    ASSERT_EQ(pixel, kBlankGreen) << x << "," << y;
                    continue;
                }
                EXPECT_TRUE(qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel))
                    << "not grey at " << x << "," << y;
                black += pixel == kBlack ? 1 : 0;
            }
        }
        EXPECT_EQ(black, scale * scale);
    }
}

// The blank covers cell (0, 1) of the solved board, so nothing of the scene may hide there.
TEST(SceneTest, NothingStandsUnderTheBlank) {
    const QImage hidden = DrawScene(1).copy(QRect(0, kTileSize, kTileSize, kTileSize));
    EXPECT_EQ(ShareOf(hidden, kGrass), 1.0);
}

// The dog walks across the two bottom-left tiles; the bat and home plate lie bottom right.
TEST(SceneTest, DogAndBatAreWhereThePuzzleSaysTheyAre) {
    EXPECT_GE(ShareOf(Tile(8, 1), kBrown), 0.03);
    EXPECT_GE(ShareOf(Tile(5, 1), kBrown), 0.02);
    EXPECT_GE(ShareOf(Tile(5, 1), kWhite), 0.01) << "the ball";
    EXPECT_GE(ShareOf(Tile(13, 1), kBrown), 0.01) << "the bat";
    EXPECT_GE(ShareOf(Tile(13, 1), kWhite), 0.02) << "home plate";
}

// The 2x pictures are drawn afresh, not blown up: the same composition with finer edges.
TEST(SceneTest, DoubleSizeSceneIsDrawnNotEnlarged) {
    const QImage small = DrawScene(1);
    const QImage large = DrawScene(2);
    const QImage enlarged =
        small.scaled(large.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    EXPECT_NE(large, enlarged);
    const double agreement = Agreement(large, enlarged);
    EXPECT_GE(agreement, 0.95);
    EXPECT_LT(agreement, 1.0);
}

// The committed pictures are exactly what the generator draws: nobody edits them by hand.
TEST(SceneTest, CommittedAssetsMatchTheGenerator) {
    const QDir folder(QStringLiteral(KOMA_ASSETS_DIR));
    for (const auto& [path, image] : Assets()) {
        const QImage committed(folder.filePath(path));
        ASSERT_FALSE(committed.isNull())
            << qPrintable(path) << " is missing: run koma-scene to write the pictures";
        EXPECT_EQ(Rgb(committed), image)
            << qPrintable(path) << " differs from the drawing: run koma-scene";
    }
}

}  // namespace
}  // namespace koma::scene
