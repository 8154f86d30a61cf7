// Closes the program's modal boxes from a timer, as a player would, and remembers what they said.
#pragma once

#include <QApplication>
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
    explicit ModalCloser(std::function<void(QMessageBox&)> close = {}) : close_(std::move(close)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { CloseOpenBox(); });
        timer_.start(2);
    }

    std::vector<Seen> seen;
    // Called with each box just before it is closed, e.g. to look at the main window then.
    std::function<void()> on_box;

  private:
    void CloseOpenBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        seen.push_back({box->windowTitle(), box->text(), box->icon(),
                        static_cast<int>(box->buttons().size())});
        if (on_box) {
            on_box();
        }
        if (close_) {
            close_(*box);
        } else {
            box->defaultButton()->click();
        }
    }

    std::function<void(QMessageBox&)> close_;
    QTimer timer_;
};

}  // namespace koma::app::testing
