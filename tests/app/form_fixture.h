// A window built for tests: pause off, fake music, the fanfare written down.
#pragma once

#include <gtest/gtest.h>
#include <QImage>
#include <QTest>
#include <string>
#include <vector>

#include <QPushButton>

#include "app/board_frame.h"
#include "app/form1.h"
#include "app/tile_image.h"
#include "form_probe.h"
#include "support/fake_music_device.h"

namespace koma::app::testing {

class FormTest : public ::testing::Test {
  protected:
    FormTest() : form(Options()) {}

    FormOptions Options() {
        FormOptions options;
        options.pause = Pause::kOff;
        options.music = sound::testing::FakeMusicFactory(music);
        options.play_effect = [this](const std::string& file) { effects.push_back(file); };
        return options;
    }

    // The client area as the player sees it.
    QImage Screen() { return form.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Presses the board frame at a client position.
    void PressAt(int x, int y, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(probe.Shape1(), button, Qt::NoModifier, QPoint(x - 9, y - 9));
        QTest::mouseRelease(probe.Shape1(), button, Qt::NoModifier, QPoint(x - 9, y - 9));
    }
    void PressCell(int x, int y) { PressAt(CellLeft(x) + 47, CellTop(y) + 47); }

    bool PicturesShow(const Grid& grid) const { return probe.Board() == grid; }

    sound::testing::FakeMusicBackend music;
    std::vector<std::string> effects;
    TForm1 form;
    FormProbe probe{form};
};

}  // namespace koma::app::testing
