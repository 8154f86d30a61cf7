// A long run of random input on the real window, with the game's rules checked after every
// event: presses anywhere in and around the board with every mouse button, mixed with restarts
// and computer solves.
#include <gtest/gtest.h>
#include <QApplication>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <string>

#include "app/form1.h"
#include "app/tile_image.h"
#include "form_probe.h"
#include "modal_closer.h"
#include "solver/solver.h"
#include "support/fake_music_device.h"
#include "support/recording_view.h"

namespace koma::app {
namespace {

constexpr long kDefaultPresses = 1'000'000;
constexpr std::uint64_t kDefaultSeed = 0x4b4f4d41;  // "KOMA"
// Presses land in this client square: the board (9..393) with a margin of window around it,
// short of the buttons at x = 400.
constexpr int kAreaBegin = 0;
constexpr int kAreaEnd = 399;

std::optional<long long> FromEnvironment(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    return std::stoll(text, nullptr, 0);
}

// One slide: two neighbouring cells swapped, one of them the blank.
bool IsOneSlide(const Grid& before, const Grid& after) {
    const Cell blank = before.Find(kBlank);
    for (const Cell side : {offset::kRight, offset::kLeft, offset::kDown, offset::kUp}) {
        const Cell tile = blank + side;
        if (!IsOnBoard(tile)) {
            continue;
        }
        Grid swapped = before;
        std::swap(swapped[blank], swapped[tile]);
        if (swapped == after) {
            return true;
        }
    }
    return false;
}

class Soak {
  public:
    explicit Soak(std::uint64_t seed) : random_(seed), form_(Options()) {
        form_.show();
        form_.activateWindow();
    }

    struct Counts {
        long presses = 0;
        long slides = 0;
        long completions = 0;
        long restarts = 0;
        long solves = 0;
        long games_by_hand = 0;
    };

    // Runs until `presses` presses were made; returns the first broken rule, or "" if none.
    std::string Run(long presses) {
        // A short run passes through every kind of event too: it starts with a game finished
        // by hand and a computer solve.
        for (const auto& event :
             {&Soak::FinishByHand, &Soak::Restart, &Soak::Solve, &Soak::Restart}) {
            if (std::string broken = (this->*event)(); !broken.empty()) {
                return broken;
            }
            if (std::string broken = CheckWindow(); !broken.empty()) {
                return broken;
            }
        }
        while (counts_.presses < presses) {
            const std::uint32_t pick = Uniform(0, 9999);
            std::string broken;
            if (pick < 20) {
                broken = Restart();
            } else if (pick < 22) {
                broken = Solve();
            } else if (pick < 25) {
                broken = FinishByHand();
            } else {
                broken = Press();
            }
            if (broken.empty()) {
                broken = CheckWindow();
            }
            if (!broken.empty()) {
                return broken + " (after " + std::to_string(counts_.presses) + " presses, board" +
                       " " + RowsText(Shown()) + ")";
            }
            // Let the window paint and the timers run now and then, as an idle moment would.
            if (++events_ % 4096 == 0) {
                QCoreApplication::processEvents();
            }
        }
        return {};
    }

    const Counts& counts() const { return counts_; }

  private:
    FormOptions Options() {
        FormOptions options;
        options.pause = Pause::kOff;
        options.music = sound::testing::FakeMusicFactory(music_);
        options.play_effect = [](const std::string&) {};
        return options;
    }

    std::uint32_t Uniform(std::uint32_t low, std::uint32_t high) {
        return std::uniform_int_distribution<std::uint32_t>(low, high)(random_);
    }

    Qt::MouseButton AnyButton() {
        constexpr Qt::MouseButton kButtons[] = {Qt::LeftButton,    Qt::RightButton,
                                                Qt::MiddleButton,  Qt::BackButton,
                                                Qt::ForwardButton, Qt::ExtraButton4};
        return kButtons[Uniform(0, std::size(kButtons) - 1)];
    }

    Qt::KeyboardModifiers AnyModifiers() {
        constexpr Qt::KeyboardModifier kKeys[] = {Qt::ShiftModifier, Qt::ControlModifier,
                                                  Qt::AltModifier, Qt::MetaModifier};
        Qt::KeyboardModifiers held;
        const std::uint32_t mask = Uniform(0, 15);
        for (std::size_t i = 0; i < std::size(kKeys); ++i) {
            if ((mask >> i & 1U) != 0 && Uniform(0, 3) == 0) {
                held |= kKeys[i];
            }
        }
        return held;
    }

    // Delivers a press (or the second press of a double click) and its release to whatever the
    // window shows at `client`, as the application would route a real click.
    void Click(QPoint client, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
               bool double_click) {
        QWidget* target = form_.childAt(client);
        if (target == nullptr) {
            target = &form_;
        }
        const QPointF local = target->mapFrom(&form_, QPointF(client));
        const QPointF global = form_.mapToGlobal(QPointF(client));
        const QEvent::Type press =
            double_click ? QEvent::MouseButtonDblClick : QEvent::MouseButtonPress;
        QMouseEvent down(press, local, local, global, button, button, modifiers,
                         QPointingDevice::primaryPointingDevice());
        QCoreApplication::sendEvent(target, &down);
        QMouseEvent up(QEvent::MouseButtonRelease, local, local, global, button, Qt::NoButton,
                       modifiers, QPointingDevice::primaryPointingDevice());
        QCoreApplication::sendEvent(target, &up);
    }

    // A press anywhere in and around the board, sometimes followed by the second press of a
    // double click at the same place.
    std::string Press() {
        const QPoint at(static_cast<int>(Uniform(kAreaBegin, kAreaEnd)),
                        static_cast<int>(Uniform(kAreaBegin, kAreaEnd)));
        const Qt::MouseButton button = AnyButton();
        const Qt::KeyboardModifiers modifiers = AnyModifiers();
        std::string broken = PressOnce(at, button, modifiers, false);
        if (broken.empty() && Uniform(0, 19) == 0) {
            broken = PressOnce(at, button, modifiers, true);
        }
        return broken;
    }

    std::string PressOnce(QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                          bool double_click) {
        const Grid before = Shown();
        const std::size_t notices = closer_.seen.size();
        Click(at, button, modifiers, double_click);
        ++counts_.presses;

        const Grid after = Shown();
        if (after != before) {
            if (locked_) {
                return "a press moved a tile on a locked board";
            }
            if (!IsOneSlide(before, after)) {
                return "a press did something other than one slide";
            }
            ++counts_.slides;
        }
        const std::size_t new_notices = closer_.seen.size() - notices;
        if (!locked_ && after == GoalLayout) {
            if (new_notices != 1 || closer_.seen.back().text != QStringLiteral("できた!!!!")) {
                return "a completion without exactly one notice";
            }
            locked_ = true;
            ++counts_.completions;
        } else if (new_notices != 0) {
            return "a notice without a completion: " + closer_.seen.back().text.toStdString();
        }
        return {};
    }

    // Plays the game to its end from wherever it stands, with one click per slide: the clicks
    // follow the computer's steps, worked out on a board of their own. Each click lands at a
    // random point of the tile's picture, with any button.
    std::string FinishByHand() {
        if (locked_) {
            return {};
        }
        support::RecordingView scratch_view;
        scratch_view.keep_log = false;
        Puzzle scratch(scratch_view, Shown());
        Solver solver(scratch, scratch_view, Pause::kOff);
        std::vector<QPoint> clicks;
        solver.SetStepObserver([&](Step) {
            // After a step the blank's old cell holds the tile; before it the blank went there.
            const Puzzle::Cell blank = solver.blank();
            clicks.emplace_back(blank.x, blank.y);
        });
        solver.Button1Click();
        ++counts_.games_by_hand;
        for (const QPoint cell : clicks) {
            const QPoint at(CellLeft(cell.x()) + static_cast<int>(Uniform(0, kPictureSize - 1)),
                            CellTop(cell.y()) + static_cast<int>(Uniform(0, kPictureSize - 1)));
            if (std::string broken = PressOnce(at, AnyButton(), AnyModifiers(), false);
                !broken.empty()) {
                return broken;
            }
        }
        if (!locked_) {
            return "a game played to the goal by hand did not complete";
        }
        return {};
    }

    std::string Restart() {
        Click(probe_.Button3()->geometry().center(), Qt::LeftButton, Qt::NoModifier, false);
        ++counts_.restarts;
        locked_ = false;
        if (Shown() != StartLayout) {
            return "a restart did not bring the start arrangement back";
        }
        return {};
    }

    std::string Solve() {
        if (probe_.Button1()->isHidden()) {
            return {};  // nothing to click: the button is not on the screen
        }
        const std::size_t notices = closer_.seen.size();
        Click(probe_.Button1()->geometry().center(), Qt::LeftButton, Qt::NoModifier, false);
        ++counts_.solves;
        locked_ = true;
        if (Shown() != GoalLayout) {
            return "a solve ended away from the goal";
        }
        if (closer_.seen.size() != notices) {
            return "a solve showed a notice: " + closer_.seen.back().text.toStdString();
        }
        return {};
    }

    // What holds after every event, whatever it was.
    std::string CheckWindow() const {
        if (!probe_.Board()) {
            return "the pictures no longer show each tile on a cell of its own";
        }
        if (probe_.Button1()->isHidden() != locked_) {
            return locked_ ? "the solver button shows on a locked board"
                           : "the solver button is hidden on a live board";
        }
        return {};
    }

    // The board as the player sees it; an empty one when the pictures show none.
    Grid Shown() const { return probe_.Board().value_or(Grid{}); }

    std::mt19937_64 random_;
    sound::testing::FakeMusicBackend music_;
    testing::ModalCloser closer_;
    TForm1 form_;
    testing::FormProbe probe_{form_};
    bool locked_ = false;
    long events_ = 0;
    Counts counts_;
};

TEST(Soak, RandomPressesRestartsAndSolvesKeepEveryRule) {
    const auto seed =
        static_cast<std::uint64_t>(FromEnvironment("KOMA_SOAK_SEED").value_or(kDefaultSeed));
    const long presses =
        static_cast<long>(FromEnvironment("KOMA_SOAK_EVENTS").value_or(kDefaultPresses));
    std::cout << "soak: seed " << seed << ", " << presses << " presses" << std::endl;

    Soak soak(seed);
    const auto start = std::chrono::steady_clock::now();
    const std::string broken = soak.Run(presses);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

    const Soak::Counts& counts = soak.counts();
    std::cout << "soak: " << counts.presses << " presses (" << counts.slides << " slides), "
              << counts.completions << " completions, " << counts.restarts << " restarts, "
              << counts.solves << " solves, " << counts.games_by_hand
              << " games finished by hand in " << took.count() << " s" << std::endl;
    EXPECT_EQ(broken, "");
    EXPECT_GT(counts.completions, 0) << "the run never completed a game by hand";
    EXPECT_GT(counts.solves, 0) << "the run never ran the computer solve";
}

}  // namespace
}  // namespace koma::app
