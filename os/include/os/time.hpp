#pragma once
// Clocks and precise sleeping.

#include <chrono>
#include <cstdint>

namespace os {

// Whole seconds since 1970-01-01 UTC from the precise system clock, truncated;
// 0 when the clock reads earlier than 1970.
[[nodiscard]] std::uint64_t unix_seconds_now();

// Sleeps until the steady-clock deadline without rounding to the system tick
// and without returning early; returns at once when it has passed.
void sleep_until(std::chrono::steady_clock::time_point deadline);

}  // namespace os
