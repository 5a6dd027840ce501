#pragma once
// A private PipeWire sound server for one test, in a folder of the test's
// own (scripts/private-sound-server.sh does the setting up and the ready
// checks). The test process adopts the server's processes, so it stops and
// reaps them by pid; no two tests ever share a graph.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

namespace test_support {

struct SoundServerOptions {
    bool pulse = false;  // also pipewire-pulse, for PulseAudio players
};

class SoundServer {
public:
    // Starts and waits until ready; a failure fails the test with the
    // script's own words.
    explicit SoundServer(SoundServerOptions options = {});
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;
    // Stops whatever still runs, newest first.
    ~SoundServer();

    [[nodiscard]] bool ready() const { return !pids_.empty(); }
    // The environment of the server's clients (players, the program).
    [[nodiscard]] const test_support::EnvOverrides& client_env() const { return env_; }
    // Stops the pipewire daemon alone, as a crash or a logout would.
    void stop_daemon();
    // A folder for the test's own files (tones).
    [[nodiscard]] std::string file(const std::string& name) const { return folder_.file(name); }

    // Starts a player with the server's environment; its output is discarded.
    [[nodiscard]] test_support::ChildProcess play(const std::string& program, const std::vector<std::string>& args) const;

private:
    struct Adopted {
        std::string name;
        std::uint32_t pid = 0;
    };
    void stop(Adopted& process);

    test_support::TempDir folder_;
    test_support::EnvOverrides env_;
    std::vector<Adopted> pids_;  // in start order
};

}  // namespace test_support
