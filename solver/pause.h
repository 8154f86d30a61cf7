// The fixed amount of processor work behind every step's pause.
#pragma once

#include <cstdint>

namespace koma {

// Every single step pauses for this many passes of the count-down.
inline constexpr int kStepPause = 1000;

// One pass counts from here down to 0: 500,001 iterations.
inline constexpr std::int32_t kCountDownStart = 500001;

// One pass of the count-down, every iteration really executed.
void CountDownPass();

}  // namespace koma
