// koma-trace: drives the real solver with the pause off and prints what it does.
//
//   koma-trace solve N1 ... N16        board rows top to bottom, each left to right, 0 the blank
//   koma-trace route NAME X Y BX BY    NAME one of Hy0 My0 Su0 Ss0; the blank starts at (BX, BY)
//   koma-trace pause N                 the real Taimingu(N) with the pause on
//
// Bad input gets one line on stderr and exit status 2.
#include <array>
#include <charconv>
#include <iostream>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "board/puzzle.h"
#include "solver/solver.h"
#include "tools/common/arrangement.h"

namespace {

using koma::Grid;
using koma::Pause;
using koma::Puzzle;
using koma::Solver;

constexpr int kBadInput = 2;

// Thrown for anything wrong on the command line; main prints it and exits with 2.
class BadInput : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The screen of a run without a window: notices (and, when asked, repaints) are printed as
// they come; pictures go nowhere, sound is off and the solver button starts shown.
class ConsoleView : public koma::View {
  public:
    explicit ConsoleView(bool print_repaints = false) : print_repaints_(print_repaints) {}

    void MoveTilePicture(int /*tile*/, int /*left*/, int /*top*/) override {}
    void RepaintNow() override {
        if (print_repaints_) {
            std::cout << "repaint\n";
        }
    }
    void AnswerDesktop() override {}
    void ShowNotice(std::string_view text) override { std::cout << "notice: " << text << '\n'; }
    bool IsSoundOn() const override { return false; }
    void PlayEffect() override {}
    void SetSolverButtonVisible(bool visible) override { solver_button_visible_ = visible; }
    bool IsSolverButtonVisible() const override { return solver_button_visible_; }

  private:
    bool print_repaints_;
    bool solver_button_visible_ = true;
};

int ParseInt(std::string_view text, std::string_view what) {
    int value = 0;
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec == std::errc::result_out_of_range) {
        throw BadInput(std::string(what) + " is out of range: '" + std::string(text) + "'");
    }
    if (text.empty() || ec != std::errc() || ptr != end) {
        throw BadInput(std::string(what) + " is not a whole number: '" + std::string(text) + "'");
    }
    return value;
}

int ParseCoordinate(std::string_view text, std::string_view what) {
    const int value = ParseInt(text, what);
    if (value < 0 || value >= koma::kColumns) {
        throw BadInput(std::string(what) + " " + std::to_string(value) +
                       " is off the board (0..3)");
    }
    return value;
}

void ExpectArgs(std::span<const std::string_view> args, std::size_t count, std::string_view usage) {
    if (args.size() != count) {
        throw BadInput("expected " + std::to_string(count) + " values after the command, got " +
                       std::to_string(args.size()) + " (usage: koma-trace " + std::string(usage) +
                       ")");
    }
}

void PrintSteps(Solver& solver, int& count) {
    solver.SetStepObserver([&count](koma::Step step) {
        ++count;
        std::cout << koma::StepName(step) << '\n';
    });
}

int Solve(std::span<const std::string_view> args) {
    ExpectArgs(args, koma::kCells, "solve N1 ... N16");
    std::array<int, koma::kCells> rows{};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows.at(i) = ParseInt(args[i], "value " + std::to_string(i + 1));
    }
    const Grid grid = Grid::FromRows(rows);
    if (!grid.IsPermutation()) {
        throw BadInput("the board must hold each of 0..15 exactly once");
    }
    if (!koma::IsReachableFromStart(grid)) {
        throw BadInput("this arrangement cannot be reached from the start arrangement by slides");
    }
    ConsoleView view;
    Puzzle puzzle{view, grid};
    Solver solver{puzzle, view, Pause::kOff};
    int steps = 0;
    PrintSteps(solver, steps);
    solver.Button1Click();
    std::cout << "board " << koma::RowsText(puzzle.cells()) << "\nsteps " << steps << '\n';
    return 0;
}

int Route(std::span<const std::string_view> args) {
    ExpectArgs(args, 5, "route NAME X Y BX BY");
    using Routine = void (Solver::*)(int, int);
    constexpr std::pair<std::string_view, Routine> kRoutines[] = {
        {"Hy0", &Solver::Hy0}, {"My0", &Solver::My0}, {"Su0", &Solver::Su0}, {"Ss0", &Solver::Ss0}};
    std::optional<Routine> routine;
    for (const auto& [name, call] : kRoutines) {
        if (args[0] == name) {
            routine = call;
        }
    }
    if (!routine) {
        throw BadInput("unknown route '" + std::string(args[0]) + "' (one of Hy0 My0 Su0 Ss0)");
    }
    const int x = ParseCoordinate(args[1], "X");
    const int y = ParseCoordinate(args[2], "Y");
    const int bx = ParseCoordinate(args[3], "BX");
    const int by = ParseCoordinate(args[4], "BY");

    // The start arrangement with the blank exchanged into (BX, BY).
    Grid grid = koma::StartLayout;
    std::swap(grid[grid.Find(koma::kBlank)], grid[bx][by]);
    ConsoleView view;
    Puzzle puzzle{view, grid};
    Solver solver{puzzle, view, Pause::kOff};
    solver.FindBlank();
    int steps = 0;
    PrintSteps(solver, steps);
    (solver.**routine)(x, y);
    std::cout << "blank " << solver.blank().x << ' ' << solver.blank().y << '\n';
    return 0;
}

int RunPause(std::span<const std::string_view> args) {
    ExpectArgs(args, 1, "pause N");
    const int n = ParseInt(args[0], "N");
    if (n < 1) {
        throw BadInput("N must be at least 1, got " + std::to_string(n));
    }
    ConsoleView view{true};
    Puzzle puzzle{view};
    Solver solver{puzzle, view, Pause::kOn};
    solver.Taimingu(n);
    return 0;
}

int Run(std::span<const std::string_view> words) {
    if (words.empty()) {
        throw BadInput("no command (one of solve, route, pause)");
    }
    const std::string_view command = words[0];
    const std::span<const std::string_view> args = words.subspan(1);
    if (command == "solve") {
        return Solve(args);
    }
    if (command == "route") {
        return Route(args);
    }
    if (command == "pause") {
        return RunPause(args);
    }
    throw BadInput("unknown command '" + std::string(command) + "' (one of solve, route, pause)");
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    try {
        return Run(words);
    } catch (const BadInput& error) {
        std::cerr << "koma-trace: " << error.what() << '\n';
        return kBadInput;
    }
}
