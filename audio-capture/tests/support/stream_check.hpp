#pragma once
// Checks on what a listening client receives from the program.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "support/program_run.hpp"
#include "client/ws_client.hpp"

namespace test_support {

inline const std::string FORMAT_MESSAGE =
    R"({"type":"format","sampleRate":48000,"channels":2,"format":"s16le","frameMs":10,"frameBytes":1920})";

// The sawtooth index (0..99) the frame starts at, or nullopt when the frame
// is not 480 sample frames of the fake source's sawtooth (both channels equal,
// rising by 100 from -5000 to 4900).
[[nodiscard]] std::optional<int> sawtooth_phase(std::span<const std::uint8_t> frame);

// Follows consecutive frames of the fake source and reports the first break.
class SawtoothFollower {
public:
    // Empty when the frame continues the previous one, else what is wrong.
    [[nodiscard]] std::string next(std::span<const std::uint8_t> frame);

private:
    std::optional<int> expected_phase_;
};

// Connects as the web client does (allowed Origin, Host 127.0.0.1:port,
// target /?t=token).
[[nodiscard]] client::WsClient connect_client(std::uint16_t port, const std::string& token = TOKEN);

// Starts the program in fake-source mode watching a process of the test's.
struct FakeSourceProgram {
    explicit FakeSourceProgram(std::vector<std::string> extra = {});
    test_support::ChildProcess watched;
    ProgramRun run;
    std::uint16_t port = 0;
};

}  // namespace test_support
