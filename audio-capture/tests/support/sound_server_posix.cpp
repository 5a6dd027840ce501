#include "support/sound_server.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

namespace test_support {
namespace {

using namespace std::chrono_literals;

// Ends within a second or two even on a loaded machine; then it is killed.
constexpr auto STOP_LIMIT = 10s;
constexpr auto START_LIMIT = 60s;

bool reaped_within(std::uint32_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
        if (done == static_cast<pid_t>(pid) || (done < 0 && errno == ECHILD)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
}

}  // namespace

SoundServer::SoundServer(SoundServerOptions options) {
    // The script's daemons outlive it; as their subreaper this process
    // inherits them and can wait for them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const std::string dir = folder_.file("server");
    auto script = test_support::ChildProcess::spawn(
        "/bin/sh", {"-c", "exec \"$0\" start \"$1\" $2 2>\"$1.errors\"", BRQ_SOUND_SERVER_SCRIPT, dir,
                    options.pulse ? "--pulse" : ""});
    if (!script) {
        ADD_FAILURE() << "cannot run the sound-server script: " << script.error();
        return;
    }
    const auto status = script->wait_for(START_LIMIT);
    const auto errors = test_support::read_whole_file(dir + ".errors").value_or("");
    if (status != 0u) {
        ADD_FAILURE() << "private sound server did not start within 60 s: " << errors;
    }
    for (const char* name : {"pipewire", "wireplumber", "pipewire-pulse"}) {
        if (auto pid = test_support::read_whole_file(dir + "/" + name + ".pid")) {
            pids_.push_back({name, static_cast<std::uint32_t>(std::stoul(*pid))});
        }
    }
    env_ = {{"XDG_RUNTIME_DIR", dir + "/run"},  {"XDG_STATE_HOME", dir + "/state"},
            {"XDG_CONFIG_HOME", dir + "/cfg"},   {"PIPEWIRE_REMOTE", std::nullopt},
            {"PIPEWIRE_RUNTIME_DIR", std::nullopt}, {"PULSE_SERVER", std::nullopt},
            {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
    if (status != 0u) {
        pids_.clear();  // the script has stopped what it started
    }
}

SoundServer::~SoundServer() {
    for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) {
        stop(*it);
    }
}

void SoundServer::stop_daemon() {
    for (auto& process : pids_) {
        if (process.name == "pipewire") {
            stop(process);
        }
    }
}

void SoundServer::stop(Adopted& process) {
    if (process.pid == 0) {
        return;
    }
    ::kill(static_cast<pid_t>(process.pid), SIGTERM);
    if (!reaped_within(process.pid, STOP_LIMIT)) {
        ADD_FAILURE() << process.name << " (pid " << process.pid << ") did not end within 10 s of SIGTERM";
        ::kill(static_cast<pid_t>(process.pid), SIGKILL);
        (void)reaped_within(process.pid, STOP_LIMIT);
    }
    process.pid = 0;
}

test_support::ChildProcess SoundServer::play(const std::string& program, const std::vector<std::string>& args) const {
    auto child = test_support::ChildProcess::spawn(program, args, env_);
    if (!child) {
        ADD_FAILURE() << "cannot start " << program << ": " << child.error();
        std::abort();
    }
    return std::move(*child);
}

}  // namespace test_support
