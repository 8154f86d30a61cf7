// The tests' way into a window: its controls by their designer names, and its board.
#pragma once

#include "app/form1.h"

namespace koma::app::testing {

struct FormProbe {
    TForm1& form;

    TileImage* Image(int number) const { return form.Image(number); }  // Image1 … Image16
    BoardFrame* Shape1() const { return form.shape1_; }
    QPushButton* Button1() const { return form.button1_; }
    QPushButton* Button3() const { return form.button3_; }
    QGroupBox* GroupBox1() const { return form.group_box1_; }
    QRadioButton* RadioButton1() const { return form.radio_button1_; }
    QRadioButton* RadioButton2() const { return form.radio_button2_; }
    sound::MediaPlayer& MediaPlayer1() const { return form.media_player1_; }
    const Puzzle& puzzle() const { return form.puzzle_; }

    // Puts any arrangement on the board, pictures included, as if play had led there.
    void LoadBoard(const Grid& board) const { form.puzzle_ = Puzzle(form, board); }
};

}  // namespace koma::app::testing
