// Every arrangement play can produce.
//
// Within a phase the solver decides only from the blank's cell and the phase tile's cell (in
// phases 10 and 12 also whether the tile beside the blank is the phase's own, which is again
// the tile's cell). A run of steps moves cells, not tile numbers, so what a phase does to the
// board does not depend on which of the other tiles stand where. Running every phase from
// every blank cell and every tile cell, with the earlier tiles home, therefore covers all
// 16!/2 arrangements reachable from the start. The fewest and most steps of a whole solve
// follow from the per-phase counts: after a phase the next phase's tile may stand on any cell
// that is neither a home nor the blank's.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>

#include "phase_boards.h"

namespace koma::testing {
namespace {

constexpr int kClosing = Solver::kPhases + 1;

int CellIndex(Solver::Cell cell) {
    return cell.y * kColumns + cell.x;
}

// What one phase does from one (blank, tile) start.
struct PhaseOutcome {
    bool seen = false;
    int steps = 0;
    int blank_after = -1;
};

class CoverageTest : public SolverTest {
  protected:
    CoverageTest() { view.keep_log = false; }
};

TEST_F(CoverageTest, EveryReachableArrangementIsSolved) {
    // outcome[phase][blank][tile]; the closing depends on the blank only (tile index 0).
    std::vector<std::array<std::array<PhaseOutcome, kCells>, kCells>> outcome(kClosing + 1);
    int cases = 0;
    int failures = 0;

    for (int phase = 1; phase <= Solver::kPhases; ++phase) {
        const std::vector<Solver::Cell> free = FreeCells(phase);
        ASSERT_EQ(static_cast<int>(free.size()), kCells + 1 - phase);
        for (const Solver::Cell blank : free) {
            for (const Solver::Cell tile : free) {
                if (CellIndex(blank) == CellIndex(tile)) {
                    continue;
                }
                std::vector<Step> first_filling;
                // Two fillings of the other tiles must make the same moves.
                for (const bool descending : {false, true}) {
                    ++cases;
                    Load(PhaseStartBoard(phase, blank, tile, descending));
                    RunPhase(phase);
                    const std::vector<Step> phase_steps = steps;
                    PhaseOutcome& out = outcome[ArrayIndex(phase)][ArrayIndex(CellIndex(blank))]
                                               [ArrayIndex(CellIndex(tile))];
                    out = {true, static_cast<int>(phase_steps.size()), CellIndex(solver.blank())};
                    bool ok = PhasesHome(puzzle.cells(), phase);
                    if (descending) {
                        ok = ok && phase_steps == first_filling;
                    } else {
                        first_filling = phase_steps;
                    }
                    for (int later = phase + 1; later <= Solver::kPhases; ++later) {
                        RunPhase(later);
                        ok = ok && PhasesHome(puzzle.cells(), later);
                    }
                    const Solver::Cell closing_blank = solver.blank();
                    const std::size_t before_closing = steps.size();
                    Closing();
                    PhaseOutcome& closing =
                        outcome[kClosing][ArrayIndex(CellIndex(closing_blank))][0];
                    closing = {true, static_cast<int>(steps.size() - before_closing), 4};
                    ok = ok && puzzle.cells() == GoalLayout && view.notices.empty() &&
                         solver.blank().x == 0 && solver.blank().y == 1 &&
                         view.PicturesMatch(GoalLayout);
                    if (!ok && ++failures <= 5) {
                        ADD_FAILURE() << "phase " << phase << ", blank " << blank.x << ","
                                      << blank.y << ", tile " << tile.x << "," << tile.y
                                      << (descending ? " (descending)" : "") << ": "
                                      << RowsText(puzzle.cells());
                    }
                }
            }
        }
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(cases, 2 * 1352);

    // Fewest and most steps from a phase's start to the end, phase by phase from the back.
    struct Range {
        int fewest = std::numeric_limits<int>::max();
        int most = std::numeric_limits<int>::min();
    };
    // rest[blank]: the range from the start of phase `next` on, over all places of its tile.
    std::array<Range, kCells> rest{};
    for (int blank = 0; blank < kCells; ++blank) {
        const PhaseOutcome& closing = outcome[kClosing][ArrayIndex(blank)][0];
        if (closing.seen) {
            rest[ArrayIndex(blank)] = {closing.steps, closing.steps};
        }
    }
    for (int phase = Solver::kPhases; phase >= 1; --phase) {
        std::array<Range, kCells> here{};
        for (int blank = 0; blank < kCells; ++blank) {
            for (int tile = 0; tile < kCells; ++tile) {
                const PhaseOutcome& out =
                    outcome[ArrayIndex(phase)][ArrayIndex(blank)][ArrayIndex(tile)];
                if (!out.seen) {
                    continue;
                }
                const Range& after = rest[ArrayIndex(out.blank_after)];
                ASSERT_LE(after.fewest, after.most)
                    << "phase " << phase << " leaves an unseen state";
                Range& r = here[ArrayIndex(blank)];
                r.fewest = std::min(r.fewest, out.steps + after.fewest);
                r.most = std::max(r.most, out.steps + after.most);
            }
        }
        rest = here;
    }
    const auto [fewest, most] =
        std::accumulate(rest.begin(), rest.end(), Range{}, [](Range total, const Range& r) {
            return Range{std::min(total.fewest, r.fewest), std::max(total.most, r.most)};
        });
    EXPECT_EQ(fewest, 4);
    EXPECT_EQ(most, 263);
    RecordProperty("fewest_steps", fewest);
    RecordProperty("most_steps", most);
}

}  // namespace
}  // namespace koma::testing
