#include "app/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QString>
#include <QVBoxLayout>
#include <utility>

#include "app/desktop/window_geometry.h"

namespace koma::app {

namespace {

// A box is neither minimised nor maximised nor resized: its frame offers the close box alone,
// which also leaves the title room beside it.
constexpr Qt::WindowFlags kBoxFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                      Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                      Qt::MSWindowsFixedSizeDialogHint;
// The notice is never narrower: a short text would leave its title bar no room for "KOMA".
constexpr int kLeastNoticeWidth = 200;

const QString kTitle = QStringLiteral("KOMA");

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A box centred on a screen by its frame (WindowGeometry): Qt centres only the part it knows of,
// and window managers place dialogs by rules of their own.
template <typename Box>
class Centred : public Box {
  public:
    template <typename... Arguments>
    explicit Centred(QScreen* screen, bool ask_frame, Arguments&&... arguments)
        : Box(std::forward<Arguments>(arguments)...),
          geometry_(*this, WindowGeometry::CentredOn(screen, ask_frame)) {}

  protected:
    void showEvent(QShowEvent* event) override {
        Box::showEvent(event);  // a message box takes its size here
        geometry_.BeforeShowing();
    }

  private:
    WindowGeometry geometry_;
};

// The notice: its text in the middle, with no room kept for an icon, above one OK button.
class NoticeBox : public QDialog {
  public:
    explicit NoticeBox(const QString& text) : QDialog(nullptr, kBoxFlags) {
        setWindowTitle(kTitle);
        auto* const layout = new QVBoxLayout(this);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        auto* const label = new QLabel(text, this);
        label->setObjectName(QStringLiteral("NoticeText"));
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(QApplication::font("QMessageBoxLabel"));
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        const int margins = layout->contentsMargins().left() + layout->contentsMargins().right();
        label->setMinimumWidth(kLeastNoticeWidth - margins);
        const QScreen* const screen = QGuiApplication::primaryScreen();
        const int widest = screen != nullptr ? screen->geometry().width() / 2 : 512;
        if (label->sizeHint().width() > widest) {
            label->setWordWrap(true);
            label->setFixedWidth(widest);
        }
        auto* const buttons = new QDialogButtonBox(this);
        buttons->setCenterButtons(true);
        QPushButton* const ok =
            buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
        ok->setDefault(true);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        layout->addWidget(label);
        layout->addWidget(buttons);
        layout->activate();  // its fixed size now, not from a later event: it is centred by it
    }
};

QScreen* OrPrimary(QScreen* screen) {
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

}  // namespace

void ShowNotice(std::string_view text, QScreen* screen, bool ask_frame) {
    // No parent: the box blocks the whole application. Esc and the close box end it like OK.
    Centred<NoticeBox> box(OrPrimary(screen), ask_frame, FromUtf8(text));
    box.exec();
}

void ShowErrorBox(std::string_view message, QScreen* screen, bool ask_frame) {
    Centred<QMessageBox> box(OrPrimary(screen), ask_frame, QMessageBox::Critical, kTitle,
                             FromUtf8(WithFullStop(message)), QMessageBox::NoButton, nullptr,
                             kBoxFlags);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

std::string WithFullStop(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

}  // namespace koma::app
