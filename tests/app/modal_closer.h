// Closes the program's modal boxes from a timer, as a player would, and remembers what they said.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

namespace koma::app::testing {

class ModalCloser {
  public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        int buttons;
    };

    // `close` decides how each box is closed; by default its OK button is clicked.
    explicit ModalCloser(std::function<void(QDialog&)> close = {}) : close_(std::move(close)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { CloseOpenBox(); });
        timer_.start(2);
    }

    std::vector<Seen> seen;
    // Called with each box just before it is closed, e.g. to look at the main window then.
    std::function<void()> on_box;

  private:
    // The error box is a QMessageBox; the notice is a dialog of its own with one label.
    static Seen Read(QDialog& box) {
        const auto buttons = static_cast<int>(box.findChildren<QPushButton*>().size());
        if (const auto* message = qobject_cast<QMessageBox*>(&box)) {
            return {box.windowTitle(), message->text(), message->icon(), buttons};
        }
        const auto* label = box.findChild<QLabel*>();
        return {box.windowTitle(), label != nullptr ? label->text() : QString(),
                QMessageBox::NoIcon, buttons};
    }

    static QPushButton* DefaultButton(QDialog& box) {
        for (QPushButton* button : box.findChildren<QPushButton*>()) {
            if (button->isDefault()) {
                return button;
            }
        }
        return nullptr;
    }

    void CloseOpenBox() {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        seen.push_back(Read(*box));
        if (on_box) {
            on_box();
        }
        if (close_) {
            close_(*box);
        } else if (QPushButton* const ok = DefaultButton(*box)) {
            ok->click();
        } else {
            box->reject();
        }
    }

    std::function<void(QDialog&)> close_;
    QTimer timer_;
};

}  // namespace koma::app::testing
