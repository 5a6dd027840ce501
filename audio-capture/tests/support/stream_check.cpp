#include "support/stream_check.hpp"

#include <gtest/gtest.h>

namespace test_support {

std::optional<int> sawtooth_phase(std::span<const std::uint8_t> frame) {
    if (frame.size() != 1920) return std::nullopt;
    auto sample = [&](std::size_t index) {
        return static_cast<std::int16_t>(frame[2 * index] | (frame[2 * index + 1] << 8));
    };
    const int first = sample(0);
    if ((first + 5000) % 100 != 0 || first < -5000 || first > 4900) return std::nullopt;
    const int phase = (first + 5000) / 100;
    for (std::size_t i = 0; i < 480; ++i) {
        const int expected = 100 * static_cast<int>((static_cast<std::size_t>(phase) + i) % 100) - 5000;
        if (sample(2 * i) != expected || sample(2 * i + 1) != expected) return std::nullopt;
    }
    return phase;
}

std::string SawtoothFollower::next(std::span<const std::uint8_t> frame) {
    const auto phase = sawtooth_phase(frame);
    if (!phase) return "not a sawtooth frame of 1920 bytes (size " + std::to_string(frame.size()) + ")";
    if (expected_phase_ && *phase != *expected_phase_) {
        return "gap: phase " + std::to_string(*phase) + " instead of " + std::to_string(*expected_phase_);
    }
    expected_phase_ = (*phase + 480) % 100;
    return {};
}

client::WsClient connect_client(std::uint16_t port, const std::string& token) {
    const std::string host = "127.0.0.1:" + std::to_string(port);
    auto client = client::open_websocket(port, client::DISCORD_ORIGIN, host, "/?t=" + token);
    if (!client) {
        ADD_FAILURE() << "handshake: " << client.error().text();
        std::abort();
    }
    return std::move(*client);
}

FakeSourceProgram::FakeSourceProgram(std::vector<std::string> extra)
    : watched(start_watched()), run([&] {
          auto args = ProgramRun::standard_args(watched.pid(), {"--fake-source"});
          args.insert(args.end(), extra.begin(), extra.end());
          return args;
      }()) {
    auto info = run.wait_for_info();
    if (!info) {
        ADD_FAILURE() << "the program published no info file";
        std::abort();
    }
    port = info->port;
}

}  // namespace test_support
