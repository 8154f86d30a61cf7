// The tests' way into a window: its controls by their designer names, and the board as its
// pictures show it.
#pragma once

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <optional>

#include "app/board_frame.h"
#include "app/form1.h"
#include "app/tile_image.h"
#include "support/picture_cell.h"
#include "support/solve_route.h"

namespace koma::app::testing {

struct FormProbe {
    TForm1& form;

    template <typename Control>
    Control* Named(const QString& name) const {
        // By QWidget: the game's own controls are plain C++ subclasses, unknown to Qt's casts.
        auto* const control = dynamic_cast<Control*>(form.findChild<QWidget*>(name));
        if (control == nullptr) {
            ADD_FAILURE() << "the window has no " << name.toStdString();
        }
        return control;
    }

    TileImage* Image(int number) const {  // Image1 … Image16
        return Named<TileImage>(QStringLiteral("Image%1").arg(number));
    }
    BoardFrame* Shape1() const { return Named<BoardFrame>(QStringLiteral("Shape1")); }
    QPushButton* Button1() const { return Named<QPushButton>(QStringLiteral("Button1")); }
    QPushButton* Button3() const { return Named<QPushButton>(QStringLiteral("Button3")); }
    QGroupBox* GroupBox1() const { return Named<QGroupBox>(QStringLiteral("GroupBox1")); }
    QRadioButton* RadioButton1() const {
        return Named<QRadioButton>(QStringLiteral("RadioButton1"));
    }
    QRadioButton* RadioButton2() const {
        return Named<QRadioButton>(QStringLiteral("RadioButton2"));
    }

    // The cell tile's picture (0 is the blank's) stands on; kNoCell between cells.
    Cell PictureCell(int tile) const {
        const QWidget* picture = Image(tile == kBlank ? kCells : tile);
        return koma::testing::PictureCell(picture->x(), picture->y());
    }
    // The board the pictures show; nothing when a picture stands between cells or two on one.
    std::optional<Grid> Board() const {
        Grid board;
        for (int x = 0; x < kColumns; ++x) {
            for (int y = 0; y < kRows; ++y) {
                board[x][y] = -1;
            }
        }
        for (int tile = 0; tile < kCells; ++tile) {
            const Cell cell = PictureCell(tile);
            if (cell == kNoCell || board[cell] != -1) {
                return std::nullopt;
            }
            board[cell] = tile;
        }
        return board;
    }

    // Presses the middle of a cell's picture, as the player clicks a tile.
    void PressCell(Cell cell, Qt::MouseButton button = Qt::LeftButton) const {
        const QPoint at(CellLeft(cell.x) + 47 - 9, CellTop(cell.y) + 47 - 9);  // frame coordinates
        QTest::mousePress(Shape1(), button, Qt::NoModifier, at);
        QTest::mouseRelease(Shape1(), button, Qt::NoModifier, at);
    }
    // From the start arrangement, plays by hand every slide of the computer's solve but the
    // last, which a press on (0, 1) then makes.
    void PlayToOneSlideShortOfTheGoal() const {
        std::vector<Cell> clicks = koma::testing::ClicksOfTheSolve(StartLayout);
        clicks.pop_back();
        for (const Cell cell : clicks) {
            PressCell(cell);
        }
    }
};

}  // namespace koma::app::testing
