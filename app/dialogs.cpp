#include "app/dialogs.h"

#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace koma::app {

namespace {

const QString kTitle = QStringLiteral("KOMA");

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void ShowNotice(std::string_view text) {
    // No parent: the box is centred on the screen and blocks the whole application.
    QMessageBox box(QMessageBox::NoIcon, kTitle, FromUtf8(text));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

void ShowErrorBox(std::string_view message) {
    QMessageBox box(QMessageBox::Critical, kTitle, FromUtf8(WithFullStop(message)));
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
