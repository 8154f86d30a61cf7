#include "solver/pause.h"

#include "solver/solver.h"

namespace koma {

void CountDownPass() {
    std::int32_t counter = kCountDownStart;
    while (counter != 0) {
        --counter;
        // The pause is the work itself, so the optimiser must neither drop nor shorten the
        // loop. The empty asm claims to read and change the counter, which keeps it in a
        // register and forces every decrement to happen, at about one cycle each. A volatile
        // counter would also do, but it stores and reloads the counter on every iteration,
        // and what that costs varies far more from one processor to another.
        __asm__ __volatile__("" : "+r"(counter));
    }
}

void Solver::Taimingu(int n) {
    if (pause_ == Pause::kOn) {
        // Below one pass there is nothing to wait for (a count-down from zero would not end).
        for (int pass = n; pass > 0; --pass) {
            CountDownPass();
        }
    }
    view_.RepaintNow();
    // The desktop pings its windows and takes a silent one for hung; a solve lasts many seconds.
    view_.AnswerDesktop();
}

}  // namespace koma
