// The Linux port's own platform, in this process: start failures that name
// their cause, and a capture through a private PipeWire server while players
// come and go, stopped while audio flows.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "capture/capture_thread.hpp"
#include "os/process.hpp"
#include "support/scoped_env.hpp"
#include "support/scripted_capture.hpp"
#include "support/sound_server.hpp"
#include "support/temp_dir.hpp"
#include "support/tone_check.hpp"

namespace audio::capture {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string start_failure(CaptureMode mode) {
    auto setup = test_support::make_capture_setup(mode, 1);
    std::thread thread(capture_thread, std::move(setup.context));
    const auto report = test_support::wait_start_report(setup.ends.start);
    thread.join();
    EXPECT_EQ(setup.ends.frames.try_recv().error(), RecvError::Disconnected);
    const auto* failed = report ? std::get_if<Failed>(&*report) : nullptr;
    return failed != nullptr ? failed->text : "(no Failed report)";
}

// The server's environment for this process, for the scope of a test.
struct ServerEnvironment {
    explicit ServerEnvironment(const test_support::EnvOverrides& env) {
        for (const auto& [name, value] : env) {
            scoped.emplace_back(std::make_unique<test_support::ScopedEnv>(name, value));
        }
    }
    std::vector<std::unique_ptr<test_support::ScopedEnv>> scoped;
};

TEST(SystemCapturePosix, StartFailureNamesWhyTheSoundServerCannotBeReached) {
    const test_support::TempDir runtime;
    const ServerEnvironment env({{"XDG_RUNTIME_DIR", runtime.path()},
                                 {"PIPEWIRE_REMOTE", std::nullopt},
                                 {"PIPEWIRE_RUNTIME_DIR", std::nullopt}});
    const std::string socket_path = runtime.file("pipewire-0");
    for (auto mode : {CaptureMode::Include, CaptureMode::Exclude}) {
        EXPECT_EQ(start_failure(mode), "nenhum servidor de som PipeWire em execução (" + socket_path +
                                           "): No such file or directory (os error 2)");
    }

    // A socket left behind by a server that is gone.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(start_failure(CaptureMode::Include),
              "o servidor de som PipeWire recusou a conexão (" + socket_path + "): Connection refused (os error 111)");
    ::close(fd);

    const ServerEnvironment unset({{"XDG_RUNTIME_DIR", std::nullopt}});
    EXPECT_EQ(start_failure(CaptureMode::Include),
              "nenhum servidor de som PipeWire em execução: XDG_RUNTIME_DIR não definido");
}

// Include mode for this process's tree: the players are its children.
TEST(SystemCapturePosix, PlayersThatComeAndGoAreCapturedAndStopEndsTheRun) {
    test_support::SoundServer server;
    ASSERT_TRUE(server.ready());
    const ServerEnvironment env(server.client_env());
    const std::string tone = server.file("tone.wav");
    test_support::write_tone(tone, 440, 2, 30);

    auto setup = test_support::make_capture_setup(CaptureMode::Include, os::current_pid());
    test_support::CaptureThread thread(std::move(setup.context), system_capture_platform());
    const auto report = test_support::wait_start_report(setup.ends.start);
    ASSERT_TRUE(report && std::holds_alternative<Started>(*report));
    const test_support::BlockSource blocks = [&]() -> std::optional<std::vector<std::uint8_t>> {
        std::vector<std::uint8_t> block;
        for (int i = 0; i < 10; ++i) {
            auto frame = setup.ends.frames.recv_until(Clock::now() + 5s);
            if (!frame) {
                ADD_FAILURE() << "no frame within 5 s";
                return std::nullopt;
            }
            block.insert(block.end(), frame->bytes().begin(), frame->bytes().end());
        }
        return block;
    };

    // Each player's node appears, is linked, and leaves while audio flows;
    // one more each round leaves while it is being linked, so requests about
    // ports that are gone meet the server's refusals.
    for (int round = 0; round < 3; ++round) {
        auto gone = server.play("/usr/bin/pw-cat", {"--playback", tone});
        std::this_thread::sleep_for(std::chrono::milliseconds(30 * round));
        gone.kill();
        auto player = server.play("/usr/bin/pw-cat", {"--playback", tone});
        const auto survey = test_support::survey_tones(blocks, 440, {}, 2, 100);
        EXPECT_TRUE(survey.heard && survey.present > 0) << "round " << round << ":" << survey.trace;
        player.kill();
        (void)player.wait_for(10s);
    }
    auto last = server.play("/usr/bin/pw-cat", {"--playback", tone});
    EXPECT_TRUE(test_support::survey_tones(blocks, 440, {}, 1, 100).heard);
    setup.ends.stop->store(true);
    thread.join();  // a stop that is not honoured aborts the suite here
}

}  // namespace
}  // namespace audio::capture
