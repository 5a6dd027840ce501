#include "arrival_stats.hpp"

#include <algorithm>
#include <cmath>

namespace listen {
namespace {

double percentile(std::vector<double> sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    const auto index = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size()))) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace

ArrivalReport analyse_arrivals(const std::vector<std::chrono::steady_clock::time_point>& arrivals,
                               std::chrono::nanoseconds period) {
    ArrivalReport report;
    report.received = arrivals.size();
    if (arrivals.size() < 2) {
        return report;
    }
    const double period_ms = std::chrono::duration<double, std::milli>(period).count();
    const double span_ms = std::chrono::duration<double, std::milli>(arrivals.back() - arrivals.front()).count();
    const auto slots = static_cast<std::uint64_t>(std::llround(span_ms / period_ms)) + 1;
    report.missing = slots > report.received ? slots - report.received : 0;

    std::vector<double> deviations;
    deviations.reserve(arrivals.size());
    for (std::size_t k = 0; k < arrivals.size(); ++k) {
        const double at = std::chrono::duration<double, std::milli>(arrivals[k] - arrivals.front()).count();
        deviations.push_back(at - static_cast<double>(k) * period_ms);
    }
    std::vector<double> sorted = deviations;
    std::sort(sorted.begin(), sorted.end());
    const double offset = sorted[sorted.size() / 2];
    std::vector<double> spread;
    spread.reserve(deviations.size());
    for (double d : deviations) {
        spread.push_back(std::abs(d - offset));
    }
    std::sort(spread.begin(), spread.end());
    report.jitter_p50_ms = percentile(spread, 0.50);
    report.jitter_p99_ms = percentile(spread, 0.99);
    report.jitter_max_ms = spread.back();
    return report;
}

}  // namespace listen
