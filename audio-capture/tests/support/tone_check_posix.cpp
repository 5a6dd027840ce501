#include "support/tone_check.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "wav_writer.hpp"

namespace test_support {
namespace {

constexpr int RATE = 48000;
constexpr std::size_t BLOCK_FRAMES = 10;  // 10 ms frames: 100 ms, 4800 samples

}  // namespace

// Binary messages only; anything else (the format message) is skipped.
BlockSource client_blocks(client::WsClient& client) {
    return [&client]() -> std::optional<std::vector<std::uint8_t>> {
        std::vector<std::uint8_t> block;
        while (block.size() < BLOCK_FRAMES * 1920) {
            auto frame = client.read_frame(std::chrono::seconds(5));
            if (!frame) {
                ADD_FAILURE() << "no audio frame within 5 s: " << frame.error().text();
                return std::nullopt;
            }
            if (frame->opcode == 2) {
                block.insert(block.end(), frame->payload.begin(), frame->payload.end());
            }
        }
        return block;
    };
}

void write_tone(const std::string& path, int frequency, int channels, int seconds) {
    listen::WavWriter writer(path, RATE, static_cast<std::uint16_t>(channels));
    ASSERT_TRUE(writer.is_open()) << path;
    std::vector<std::uint8_t> second;
    for (int i = 0; i < RATE; ++i) {
        const auto value = static_cast<std::int16_t>(
            std::lround(TONE_AMPLITUDE * std::sin(2 * std::numbers::pi * frequency * i / RATE)));
        for (int c = 0; c < channels; ++c) {
            second.push_back(static_cast<std::uint8_t>(value & 0xFF));
            second.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
        }
    }
    for (int s = 0; s < seconds; ++s) {
        ASSERT_TRUE(writer.append(second));
    }
    ASSERT_TRUE(writer.finish());
}

// Goertzel's filter at one frequency; a multiple of 10 Hz lands exactly on a
// bin of a 100 ms block, so other tones contribute nothing.
double tone_level(std::span<const std::uint8_t> pcm, int frequency) {
    const std::size_t count = pcm.size() / 4;
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / RATE);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto left = static_cast<std::int16_t>(pcm[4 * i] | (pcm[4 * i + 1] << 8));
        const auto right = static_cast<std::int16_t>(pcm[4 * i + 2] | (pcm[4 * i + 3] << 8));
        const double s0 = (left + right) / 2.0 + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / static_cast<double>(count);
}

ToneSurvey survey_tones(const BlockSource& blocks, int wanted, const std::vector<int>& unwanted, int count,
                        int limit) {
    ToneSurvey survey;
    survey.heard = wanted == 0;
    for (int read = 0; survey.blocks < count && (survey.heard || read < limit); ++read) {
        const auto block = blocks();
        if (!block) {
            break;
        }
        const double level = wanted == 0 ? 0 : tone_level(*block, wanted);
        survey.trace += " " + std::to_string(std::lround(level));
        for (const int other : unwanted) {
            const double leaked = tone_level(*block, other);
            if (leaked > TONE_LEAK) {
                ++survey.leaks;
                survey.trace += "(" + std::to_string(other) + " Hz: " + std::to_string(std::lround(leaked)) + ")";
            }
        }
        if (!survey.heard && level > TONE_PRESENT) {
            survey.heard = true;
        }
        if (survey.heard) {
            ++survey.blocks;
            survey.present += level > TONE_PRESENT ? 1 : 0;
        }
    }
    return survey;
}

}  // namespace test_support
