// koma-startup-floor: the least any Qt 6 window like KOMA's costs to start, to measure KOMA
// against: the sixteen 95 × 95 tile pictures, two push buttons and two radio buttons with the
// game's captions in its fonts, so that the Japanese font is part of it. No game, no sound.
//
//   koma-startup-probe --rounds 10 build/release/tools/startup/koma-startup-floor --then …
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

namespace {

QFont Font(const QStringList& families, int pixels, bool bold = false) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("KOMA floor"));
    window.setFont(Font({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                         QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")},
                        12));
    window.resize(476, 466);
    for (int k = 0; k < 16; ++k) {
        auto* const picture = new QLabel(&window);
        picture->setPixmap(
            QPixmap(QStringLiteral(":/tiles/tile%1.png").arg(k, 2, 10, QLatin1Char('0'))));
        picture->setGeometry(10 + 96 * (k % 4), 10 + 96 * (k / 4), 95, 95);
    }
    (new QPushButton(QStringLiteral("PCにやらせる"), &window))->setGeometry(400, 368, 75, 25);
    auto* const restart = new QPushButton(QStringLiteral("やりなおし"), &window);
    restart->setGeometry(400, 56, 75, 33);
    restart->setFont(Font({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                           QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP")},
                          13, true));
    auto* const off = new QRadioButton(QStringLiteral("BGMや効果音は出さない"), &window);
    off->setGeometry(40, 432, 153, 17);
    off->setChecked(true);
    (new QRadioButton(QStringLiteral("BGMや効果音を出す"), &window))
        ->setGeometry(208, 432, 129, 17);
    window.show();
    return QApplication::exec();
}
