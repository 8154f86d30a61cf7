// The ballpark scene of the puzzle, the tile pictures cut from it, and the application icon.
#pragma once

#include <QImage>
#include <QPoint>
#include <QString>

#include <vector>

namespace koma::scene {

inline constexpr int kTileSize = 95;
inline constexpr int kSceneSize = 4 * kTileSize;
inline constexpr int kTileCount = 16;  // tile 0 is the blank
inline constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

// The whole field, drawn afresh at `scale` pixels per unit (1 or 2). The blank's cell is drawn
// like any other; it is never seen there because the blank's own picture covers it.
QImage DrawScene(int scale);

// The cell that tile 1..15 (or 0, the blank) occupies in the solved puzzle.
QPoint GoalCell(int tile);

// Tile 1..15: its piece of `scene`, which was drawn at `scale`.
QImage CutTile(const QImage& scene, int tile, int scale);

// Tile 0: the plain yellow-green square with its little dot.
QImage BlankPicture(int scale);

// The solved puzzle as the player sees it: the scene with the blank's picture in its cell.
QImage SolvedPicture(int scale);

// The application icon at `size` pixels, cut from the scene.
QImage IconPicture(int size);

// Every picture the game ships, by its path under the assets folder.
struct Asset {
    QString path;
    QImage image;
};
std::vector<Asset> AllAssets();

}  // namespace koma::scene
