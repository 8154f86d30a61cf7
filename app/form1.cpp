#include "app/form1.h"

#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <new>
#include <utility>

#include "app/board_frame.h"
#include "app/desktop/window_geometry.h"
#include "app/dialogs.h"
#include "app/group_box_style.h"
#include "app/tile_image.h"
#include "sound/checks/memory_room.h"

namespace koma::app {

namespace {

const QColor kBackground(0, 128, 0);
const QColor kMarkBrown(150, 80, 66);

constexpr char kMusicFile[] = "koma.mid";
constexpr char kEffectFile[] = "一等賞.wav";
// Asked again this often while something still sounds after sound off; a reverb's tail and the
// fanfare last a few seconds.
constexpr int kReleaseCheckMs = 1000;

// The fonts the window was designed with are Windows fonts; their metric twins from the IPA
// family stand in for them on Linux, then Noto.
QFont WindowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                      QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(12);
    return font;
}

QFont RestartButtonFont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                      QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP")});
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

bool IsPlainEnter(const QKeyEvent& key) {
    const bool enter = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
    // The keypad flag says where Enter is, not that a modifier key is held.
    const Qt::KeyboardModifiers held = key.modifiers() & ~Qt::KeypadModifier;
    return enter && held == Qt::NoModifier;
}

sound::MediaPlayer::DeviceFactory MusicOrNothing(sound::MediaPlayer::DeviceFactory factory) {
    if (factory) {
        return factory;
    }
    return []() -> std::unique_ptr<sound::MusicDevice> {
        throw sound::SoundError(sound::kUnknownError);
    };
}

}  // namespace

TForm1::TForm1(FormOptions options)
    : options_(std::move(options)),
      gate_([this](const SolveGate::Action& action) { Guarded(action); },
            [this](std::string_view failure) {
                ShowErrorBox(failure, screen(),
                             geometry_ == nullptr || !geometry_->ManagerStayedSilent());
            }),
      puzzle_(*this),
      solver_(puzzle_, *this, options_.pause),
      media_player1_(kMusicFile, MusicOrNothing(options_.music)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KOMA"));
    setFont(WindowFont());
    BuildControls();
    ConnectHandlers();
    geometry_ = std::make_unique<WindowGeometry>(
        *this, WindowGeometry::FixedOuter(QRect(kLeft, kTop, kOuterWidth, kOuterHeight),
                                          QSize(kMinClientWidth, kMinClientHeight), kBackground));
    Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
    // Close the music first: after this no notification can be queued for a dying window.
    media_player1_.Close();
}

void TForm1::BuildControls() {
    // Creation order is stacking order: the pictures, then the frame on top of them all.
    for (int k = 1; k <= kCells; ++k) {
        const int tile = k == kCells ? kBlank : k;
        auto* image = new TileImage(
            QStringLiteral(":/tiles/tile%1.png").arg(tile, 2, 10, QLatin1Char('0')), this);
        image->setObjectName(QStringLiteral("Image%1").arg(k));
        images_.at(ArrayIndex(k - 1)) = image;
    }
    shape1_ = new BoardFrame(
        this, [this](int x, int y) { Guarded([this, x, y] { Shape1MouseDown(x, y); }); });
    shape1_->setObjectName(QStringLiteral("Shape1"));
    shape1_->setGeometry(9, 9, 385, 385);

    // The focusable controls, in tab order.
    button1_ = new QPushButton(QStringLiteral("PCにやらせる"), this);
    button1_->setObjectName(QStringLiteral("Button1"));
    button1_->setGeometry(400, 368, 75, 25);

    button3_ = new QPushButton(QStringLiteral("やりなおし"), this);
    button3_->setObjectName(QStringLiteral("Button3"));
    button3_->setGeometry(400, 56, 75, 33);
    button3_->setFont(RestartButtonFont());

    group_box1_ = new QGroupBox(this);
    group_box1_->setObjectName(QStringLiteral("GroupBox1"));
    group_box1_->setGeometry(16, 400, 329, 65);
    group_box1_->setStyle(new GroupBoxStyle(group_box1_));  // the box owns it

    radio_button1_ = new QRadioButton(QStringLiteral("BGMや効果音は出さない"), group_box1_);
    radio_button1_->setObjectName(QStringLiteral("RadioButton1"));
    radio_button1_->setGeometry(24, 32, 153, 17);
    radio_button1_->setChecked(true);  // before any handler is connected: sound starts off

    radio_button2_ = new QRadioButton(QStringLiteral("BGMや効果音を出す"), group_box1_);
    radio_button2_->setObjectName(QStringLiteral("RadioButton2"));
    radio_button2_->setGeometry(192, 32, 129, 17);

    release_timer_ = new QTimer(this);
    release_timer_->setSingleShot(true);
    release_timer_->setInterval(kReleaseCheckMs);
}

void TForm1::ConnectHandlers() {
    connect(button1_, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(button3_, &QPushButton::clicked, this, [this] { Guarded([this] { Button3Click(); }); });
    // toggled(true) comes only when a radio button becomes checked, after its partner was
    // unchecked; clicked would also fire for a press on the button that is already checked.
    connect(radio_button1_, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) {
            // Whatever the handler reports: the fanfare may hold the output without any music.
            release_timer_->start();
            Guarded([this] { RadioButton1Click(); });
        }
    });
    connect(release_timer_, &QTimer::timeout, this, [this] {
        Guarded([this] { gate_.UnlessSolving([this] { ReleaseAudioWhenSilent(); }); });
    });
    connect(radio_button2_, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) {
            Guarded([this] { RadioButton2Click(); });
        }
    });
    button1_->installEventFilter(this);
    button3_->installEventFilter(this);
    radio_button1_->installEventFilter(this);
    radio_button2_->installEventFilter(this);

    // The device may call from its audio thread: hop onto the window's thread as a queued
    // event, which waits its turn like any other (also behind a running solve).
    media_player1_.SetNotifyHandler([this](sound::NotifyKind kind) {
        QMetaObject::invokeMethod(
            this,
            [this, kind] {
                Guarded([this, kind] {
                    gate_.UnlessSolving([this, kind] { MediaPlayer1Notify(kind); });
                });
            },
            Qt::QueuedConnection);
    });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == radio_button1_ && (event->type() == QEvent::MouseButtonPress ||
                                      event->type() == QEvent::MouseButtonDblClick)) {
        // A box opened while the button is held would take the release that completes the
        // click: the button would stay drawn pressed and never check.
        gate_.HoldReports();
        Guarded([this] { RadioButton1MouseDown(); });
        return false;  // the press goes on to check the button as usual
    }
    if (watched == radio_button1_ && event->type() == QEvent::MouseButtonRelease) {
        gate_.ReportHeldAfterRelease();
        return false;  // the release completes the click, if it is one
    }
    if ((watched == button1_ || watched == button3_) && event->type() == QEvent::KeyPress &&
        IsPlainEnter(*static_cast<QKeyEvent*>(event))) {
        // Outside dialogs Qt's push buttons ignore Enter; here a focused button takes it.
        static_cast<QPushButton*>(watched)->click();
        return true;
    }
    if (event->type() == QEvent::KeyPress &&
        MoveInTheSwitch(watched, *static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool TForm1::MoveInTheSwitch(QObject* watched, const QKeyEvent& key) {
    // As in the platform's radio groups, every arrow key moves to the previous (up, left) or
    // the next (down, right) button of the group, round from the last to the first, and checks
    // it. Qt looks for a button in the arrow's direction instead, and there is none above or
    // below. In a group of two, either way leads to the other button.
    const bool arrow = key.key() == Qt::Key_Up || key.key() == Qt::Key_Left ||
                       key.key() == Qt::Key_Down || key.key() == Qt::Key_Right;
    const bool held = (key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier;
    if (!arrow || held || (watched != radio_button1_ && watched != radio_button2_)) {
        return false;
    }
    QRadioButton* const other = watched == radio_button1_ ? radio_button2_ : radio_button1_;
    other->setFocus(Qt::TabFocusReason);
    other->setChecked(true);  // its click handler runs if it becomes checked
    return true;
}

void TForm1::Guarded(const std::function<void()>& handler) noexcept {
    try {
        handler();
    } catch (const std::bad_alloc&) {
        Report(sound::kNoMemory);  // not "std::bad_alloc"
    } catch (const std::exception& error) {
        Report(error.what());
    } catch (...) {
        Report(sound::kUnknownError);
    }
}

void TForm1::Report(const char* failure) noexcept {
    try {
        gate_.Report(failure);
    } catch (...) {
        // Not even the box could be shown (no memory left for it): said where it can be, and
        // the game goes on.
        std::fprintf(stderr, "koma: %s\n", failure);
    }
}

void TForm1::FormCreate() {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, kBackground);
    setPalette(colours);
    setAutoFillBackground(true);
    puzzle_.Modosu();
    media_player1_.Open();
}

void TForm1::paintEvent(QPaintEvent* /*event*/) {
    // FormPaint: the grid in the gutters between the pictures, and a small brown mark on the
    // top line. Lines end one pixel short: the far pixel belongs to the next line or to the
    // frame, which draws the one corner the grid leaves out. Each line is filled as the row or
    // column of pixels it colours: on a scaled screen a pen would be centred on the pixels'
    // edge and fall half under the pictures.
    QPainter painter(this);
    for (int i = 0; i <= kRows; ++i) {
        const int at = 9 + CellSize * i;
        painter.fillRect(QRect(9, at, 384, 1), Qt::black);
        painter.fillRect(QRect(at, 9, 1, 384), Qt::black);
    }
    painter.fillRect(QRect(78, 2, 10, 7), kMarkBrown);
    for (int i = 0; i < 4; ++i) {
        painter.fillRect(QRect(78 + 3 * i, 2, 1, 3), Qt::black);
    }
}

void TForm1::showEvent(QShowEvent* event) {
    Guarded([this] { geometry_->BeforeShowing(); });
    QWidget::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // The close box waits like any other input; the window closes once the solve is done.
    if (gate_.HoldsClose([this] { close(); })) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::ReleaseAudioWhenSilent() {
    if (!IsSoundOn() && options_.release_audio && !options_.release_audio()) {
        release_timer_->start();
    }
}

TileImage* TForm1::Image(int number) const {
    return images_.at(ArrayIndex(number - 1));
}

// View -----------------------------------------------------------------------------------

void TForm1::MoveTilePicture(int tile, int left, int top) {
    Image(tile == kBlank ? kCells : tile)->move(left, top);
}

void TForm1::RepaintNow() {
    repaint();
}

void TForm1::AnswerDesktop() {
    SolveGate::AnswerDesktop();
}

void TForm1::ShowNotice(std::string_view text) {
    app::ShowNotice(text, screen(), !geometry_->ManagerStayedSilent());
}

bool TForm1::IsSoundOn() const {
    return radio_button2_->isChecked();
}

void TForm1::PlayEffect() {
    // The fanfare is never worth an error box, nor the notice that follows it: a sound that
    // cannot be had (not even the memory to read its file) is just not heard.
    try {
        if (options_.play_effect) {
            options_.play_effect(kEffectFile);
        }
    } catch (const std::exception&) {
    }
}

void TForm1::SetSolverButtonVisible(bool visible) {
    if (!visible) {
        // Qt would hand the focus on to "やりなおし", and a queued Enter or Space would press
        // it; the window itself keeps the focus instead.
        setFocus(Qt::OtherFocusReason);
    }
    button1_->setVisible(visible);
}

bool TForm1::IsSolverButtonVisible() const {
    return !button1_->isHidden();
}

// Handlers -------------------------------------------------------------------------------

void TForm1::Shape1MouseDown(int x, int y) {
    puzzle_.Shape1MouseDown(x, y);
}

void TForm1::Button1Click() {
    gate_.Solve([this] { solver_.Button1Click(); });
}

void TForm1::Button3Click() {
    puzzle_.Button3Click();
}

void TForm1::RadioButton2Click() {
    media_player1_.Rewind();
    media_player1_.Play();
}

void TForm1::RadioButton1Click() {
    media_player1_.Stop();
}

void TForm1::RadioButton1MouseDown() {
    media_player1_.Stop();
}

void TForm1::MediaPlayer1Notify(sound::NotifyKind /*kind*/) {
    if (radio_button2_->isChecked()) {
        media_player1_.Play();
    }
}

}  // namespace koma::app
