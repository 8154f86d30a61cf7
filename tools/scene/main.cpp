// koma-scene: draws the ballpark and writes the tile pictures, the solved scene and the icons.
// Usage: koma-scene FOLDER   (the build's koma_regenerate_scene target names the assets folder)

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <iostream>
#include <vector>

#include "scene.h"

int main(int argc, char* argv[]) {
    const std::vector<const char*> args(argv, argv + argc);
    if (args.size() != 2) {
        std::cerr << "usage: koma-scene FOLDER\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(args[1]));
    int failures = 0;
    for (const koma::scene::Asset& asset : koma::scene::AllAssets()) {
        const QString path = out.filePath(asset.path);
        const bool written =
            QDir().mkpath(QFileInfo(path).absolutePath()) && asset.image.save(path, "PNG");
        if (!written) {
            std::cerr << "koma-scene: cannot write " << path.toStdString() << '\n';
            ++failures;
        }
    }
    if (failures > 0) {
        return 1;
    }
    std::cout << "koma-scene: pictures written to " << out.absolutePath().toStdString() << '\n';
    return 0;
}
