#include <gtest/gtest.h>

#include <array>

#include "arrival_stats.hpp"
#include "wav_writer.hpp"

namespace {

using namespace std::chrono;

TEST(WavHeader, CanonicalPcmHeader) {
    const auto header = listen::wav_header(48000, 2, 1920);
    const std::array<std::uint8_t, 44> expected = {
        'R', 'I', 'F', 'F', 0xA4, 0x07, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
        0x80, 0xBB, 0, 0,   // 48000
        0x00, 0xEE, 0x02, 0,  // 192000 bytes per second
        4, 0, 16, 0, 'd', 'a', 't', 'a', 0x80, 0x07, 0, 0};
    EXPECT_EQ(header, expected);
}

TEST(ArrivalStats, RegularArrivalsHaveNoJitterAndGapsCountAsMissing) {
    const steady_clock::time_point t0{seconds(5)};
    std::vector<steady_clock::time_point> regular;
    for (int k = 0; k < 100; ++k) regular.push_back(t0 + milliseconds(10 * k) + milliseconds(3));
    auto report = listen::analyse_arrivals(regular, milliseconds(10));
    EXPECT_EQ(report.received, 100u);
    EXPECT_EQ(report.missing, 0u);
    EXPECT_DOUBLE_EQ(report.jitter_max_ms, 0.0);

    std::vector<steady_clock::time_point> late = regular;
    late[50] += milliseconds(4);
    report = listen::analyse_arrivals(late, milliseconds(10));
    EXPECT_NEAR(report.jitter_max_ms, 4.0, 1e-6);
    EXPECT_DOUBLE_EQ(report.jitter_p50_ms, 0.0);

    std::vector<steady_clock::time_point> gap = {t0, t0 + milliseconds(10), t0 + milliseconds(40)};
    EXPECT_EQ(listen::analyse_arrivals(gap, milliseconds(10)).missing, 2u);
}

}  // namespace
