#pragma once
// Tones for the sound-server tests: WAV files of a sine for the players, and
// the level of a frequency in what a client receives, measured in blocks of
// 100 ms so that a lost buffer now and then costs one block, not the test.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/ws_client.hpp"

namespace test_support {

inline constexpr int TONE_AMPLITUDE = 8000;
// A block hears a tone above the first level, and a tone that must not be
// there leaks when a block holds it above the second.
inline constexpr double TONE_PRESENT = 0.25 * TONE_AMPLITUDE;
inline constexpr double TONE_LEAK = 0.025 * TONE_AMPLITUDE;

// A sine of `frequency` Hz (a multiple of 10), 48 kHz, 16 bit.
void write_tone(const std::string& path, int frequency, int channels, int seconds);

// The amplitude of `frequency` in 100 ms of interleaved stereo s16le (both
// channels averaged).
[[nodiscard]] double tone_level(std::span<const std::uint8_t> pcm, int frequency);

// What a stretch of the stream held.
struct ToneSurvey {
    bool heard = false;  // `wanted` came within the limit
    int blocks = 0;      // blocks counted after it came
    int present = 0;     // of those, blocks where `wanted` was present
    int leaks = 0;       // blocks of the whole stretch where an unwanted tone was heard
    std::string trace;   // per block, for failure messages
};

// 100 ms of the stream (ten frames); nullopt (after a test failure) when
// the stream ended or stalled for 5 s.
using BlockSource = std::function<std::optional<std::vector<std::uint8_t>>()>;
[[nodiscard]] BlockSource client_blocks(client::WsClient& client);

// Reads blocks until `wanted` is present (at most `limit` of them), then
// `count` blocks more. A wanted frequency of 0 skips the waiting.
[[nodiscard]] ToneSurvey survey_tones(const BlockSource& blocks, int wanted, const std::vector<int>& unwanted,
                                      int count, int limit);

}  // namespace test_support
