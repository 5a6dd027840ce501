#pragma once
// How regularly frames arrived: each arrival is compared with a grid of one
// frame per period; the offset of the grid is the median of the deviations,
// so the figures show spread, not the constant delay of the path.

#include <chrono>
#include <cstdint>
#include <vector>

namespace listen {

struct ArrivalReport {
    std::uint64_t received = 0;
    std::uint64_t missing = 0;  // grid slots between the first and last arrival without a frame
    double jitter_p50_ms = 0;
    double jitter_p99_ms = 0;
    double jitter_max_ms = 0;
};

// Arrival times of consecutive frames, in order.
[[nodiscard]] ArrivalReport analyse_arrivals(const std::vector<std::chrono::steady_clock::time_point>& arrivals,
                                             std::chrono::nanoseconds period);

}  // namespace listen
