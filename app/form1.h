// The main window: the board, its two buttons and the sound switch. It draws and forwards
// events; the game itself lives in Puzzle and Solver, and what may run while the computer
// solves is SolveGate's to decide.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/solve_gate.h"
#include "board/puzzle.h"
#include "board/view.h"
#include "solver/solver.h"
#include "sound/game/media_player.h"

class QGroupBox;
class QKeyEvent;
class QPushButton;
class QRadioButton;
class QTimer;

namespace koma::app {

class BoardFrame;
class TileImage;
class WindowGeometry;

// What the window is built with: whether the solver really pauses, and the sound behind the
// switch (the music device, the fanfare, the release of the output once nothing sounds).
struct FormOptions {
    Pause pause = Pause::kOn;
    sound::MediaPlayer::DeviceFactory music;
    std::function<void(const std::string& file)> play_effect;
    // Closes the audio output if nothing can be heard any more; false while something still
    // sounds (the fanfare, the reverb's tail). Asked after sound is switched off.
    std::function<bool()> release_audio;
};

class TForm1 : public QWidget, public View {
  public:
    static constexpr int kLeft = 318;
    static constexpr int kTop = 191;
    static constexpr int kOuterWidth = 499;
    static constexpr int kOuterHeight = 509;
    static constexpr int kMinClientWidth = 476;
    static constexpr int kMinClientHeight = 466;

    // Builds every control, then runs FormCreate. A failure of FormCreate (only the music can
    // fail) is shown in the error box before the window ever appears.
    explicit TForm1(FormOptions options);
    ~TForm1() override;

    // View
    void MoveTilePicture(int tile, int left, int top) override;
    void RepaintNow() override;
    void AnswerDesktop() override;
    void ShowNotice(std::string_view text) override;
    bool IsSoundOn() const override;
    void PlayEffect() override;
    void SetSolverButtonVisible(bool visible) override;
    bool IsSolverButtonVisible() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;  // FormPaint
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Handlers, each run for its control's event.
    void FormCreate();
    void Shape1MouseDown(int x, int y);
    void Button1Click();
    void Button3Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton1MouseDown();
    void MediaPlayer1Notify(sound::NotifyKind kind);

    TileImage* Image(int number) const;  // Image1 … Image16
    void BuildControls();
    void ConnectHandlers();
    // The arrow keys in the sound switch: true when `key` was one and moved the check.
    bool MoveInTheSwitch(QObject* watched, const QKeyEvent& key);
    void ReleaseAudioWhenSilent();
    // Runs one handler; a failure inside it is reported in the error box and the program
    // carries on. No exception ever reaches Qt: every entry from the event loop into the game's
    // code goes through here (handlers, timers, queued notifications, held actions and reports,
    // the window's placement before it shows).
    void Guarded(const std::function<void()>& handler) noexcept;
    // The error box for one failure, unless the gate holds it.
    void Report(const char* failure) noexcept;

    FormOptions options_;
    SolveGate gate_;  // before everything that may report or be held
    Puzzle puzzle_;
    Solver solver_;
    sound::MediaPlayer media_player1_;

    std::array<TileImage*, kCells> images_{};  // images_[k - 1] is Image<k>
    BoardFrame* shape1_ = nullptr;
    QPushButton* button1_ = nullptr;
    QPushButton* button3_ = nullptr;
    QGroupBox* group_box1_ = nullptr;
    QRadioButton* radio_button1_ = nullptr;
    QRadioButton* radio_button2_ = nullptr;
    QTimer* release_timer_ = nullptr;  // runs only between sound off and the output's release
    std::unique_ptr<WindowGeometry> geometry_;
};

}  // namespace koma::app
