#include "app/dialogs.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QString>
#include <QWindow>

#include "app/frame_watch.h"

namespace koma::app {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Puts the box's frame, caption included, in the middle of the screen. Qt centres only the
// part it knows of, and window managers place dialogs by rules of their own.
void CentreOn(QWidget& box, const QScreen* screen) {
    QWindow* const handle = box.windowHandle();
    if (screen == nullptr || handle == nullptr) {
        return;
    }
    QRect frame(QPoint(0, 0), box.size() + FrameSize(box));
    frame.moveCenter(screen->geometry().center());
    handle->setFramePosition(frame.topLeft());
}

void ShowBox(QMessageBox::Icon icon, std::string_view text, QScreen* screen) {
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    // No parent: the box blocks the whole application.
    QMessageBox box(icon, QStringLiteral("KOMA"), FromUtf8(text));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    const QPointer<QScreen> on(screen);  // a screen may go away while the box is open
    const FrameWatch watch(box, [&box, on] { CentreOn(box, on); });
    box.exec();
}

}  // namespace

void ShowNotice(std::string_view text, QScreen* screen) {
    ShowBox(QMessageBox::NoIcon, text, screen);
}

void ShowErrorBox(std::string_view message, QScreen* screen) {
    ShowBox(QMessageBox::Critical, WithFullStop(message), screen);
}

std::string WithFullStop(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

}  // namespace koma::app
