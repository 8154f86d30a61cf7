// How long the pause lasts and how fast the solver runs without it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "board/puzzle.h"
#include "solver/pause.h"
#include "solver/solver.h"
#include "support/recording_view.h"
#include "tools/common/arrangement.h"

namespace koma {
namespace {

// A screen that costs next to nothing: it keeps counts and pictures, no log.
class NullView : public support::RecordingView {
  public:
    NullView() { keep_log = false; }
};

void BM_CountDownPass(benchmark::State& state) {
    for (auto _ : state) {
        CountDownPass();
    }
    state.SetItemsProcessed(state.iterations() * kCountDownStart);
}
BENCHMARK(BM_CountDownPass);

// For comparison only: the same pass with a volatile counter, which every iteration stores and
// reloads.
void BM_CountDownPassVolatileCounter(benchmark::State& state) {
    for (auto _ : state) {
        volatile std::int32_t counter = kCountDownStart;
        while (counter != 0) {
            counter = counter - 1;
        }
    }
    state.SetItemsProcessed(state.iterations() * kCountDownStart);
}
BENCHMARK(BM_CountDownPassVolatileCounter);

// The pause of one single step.
void BM_Taimingu1000(benchmark::State& state) {
    NullView view;
    Puzzle puzzle{view};
    Solver solver{puzzle, view, Pause::kOn};
    for (auto _ : state) {
        solver.Taimingu(1000);
    }
}
BENCHMARK(BM_Taimingu1000)->Unit(benchmark::kMillisecond);

std::vector<Grid> RandomReachableBoards(std::size_t count) {
    std::mt19937 random{20240601};
    std::vector<Grid> boards;
    boards.reserve(count);
    Grid::RowOrder tiles{};
    std::iota(tiles.begin(), tiles.end(), 0);
    while (boards.size() < count) {
        std::shuffle(tiles.begin(), tiles.end(), random);
        Grid grid = Grid::FromRows(tiles);
        if (!IsReachableFromStart(grid)) {
            // Exchanging two tiles of the top row (neither the blank) flips the parity.
            const int a = tiles[0] == kBlank ? 2 : 0;
            const int b = tiles[1] == kBlank ? 2 : 1;
            std::swap(grid[a][0], grid[b][0]);
        }
        boards.push_back(grid);
    }
    return boards;
}

// Whole solves, pause off, from random arrangements that play can produce.
void BM_Solve(benchmark::State& state) {
    const std::vector<Grid> boards = RandomReachableBoards(4096);
    NullView view;
    Puzzle puzzle{view};
    Solver solver{puzzle, view, Pause::kOff};
    std::int64_t steps = 0;
    solver.SetStepObserver([&steps](Step) { ++steps; });
    std::size_t next = 0;
    for (auto _ : state) {
        puzzle = Puzzle(view, boards[next]);
        solver.Button1Click();
        next = (next + 1) % boards.size();
    }
    if (puzzle.cells() != GoalLayout) {
        state.SkipWithError("a solve did not end in the goal arrangement");
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["steps_per_solve"] =
        static_cast<double>(steps) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Solve);

}  // namespace
}  // namespace koma
