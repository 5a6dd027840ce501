#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <thread>

#include "support/child_process.hpp"

extern char** environ;

namespace test_support {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::string errno_text(const char* call, int error) {
    return std::string(call) + ": " + std::strerror(error);
}

// The current environment with the overrides applied, as "NAME=value" texts.
std::vector<std::string> child_environment(const EnvOverrides& overrides) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        std::string name(text.substr(0, text.find('=')));
        if (!overrides.contains(name)) {
            entries.emplace_back(text);
        }
    }
    for (const auto& [name, value] : overrides) {
        if (value) {
            entries.push_back(name + "=" + *value);
        }
    }
    return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

ExitStatus decode(int raw) {
    if (WIFSIGNALED(raw)) {
        return static_cast<ExitStatus>(128 + WTERMSIG(raw));
    }
    return static_cast<ExitStatus>(WEXITSTATUS(raw));
}

}  // namespace

std::expected<ChildProcess, std::string> ChildProcess::spawn(const std::string& path,
                                                            const std::vector<std::string>& args,
                                                            const EnvOverrides& env, ChildOutput output) {
    std::vector<std::string> argv_texts{path};
    argv_texts.insert(argv_texts.end(), args.begin(), args.end());
    std::vector<std::string> env_texts = child_environment(env);
    auto argv = pointers_to(argv_texts);
    auto envp = pointers_to(env_texts);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output == ChildOutput::Discard) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    int error = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return std::unexpected(errno_text("posix_spawn", error));
    }
    return ChildProcess(static_cast<std::uint32_t>(pid), static_cast<std::intptr_t>(pid));
}

void ChildProcess::RunningTraits::close(Value value) noexcept {
    const auto pid = static_cast<pid_t>(value);
    ::kill(pid, SIGKILL);
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
}

std::optional<ExitStatus> ChildProcess::wait_for(milliseconds timeout) {
    if (!running_) {
        return status_;
    }
    const auto deadline = steady_clock::now() + timeout;
    // A pidfd lets the wait block in poll; without one it polls waitpid.
    const os::KernelHandle pidfd(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid_), 0));
    for (;;) {
        int raw = 0;
        pid_t done = ::waitpid(static_cast<pid_t>(pid_), &raw, WNOHANG);
        if (done == static_cast<pid_t>(pid_)) {
            status_ = decode(raw);
            (void)running_.release();  // reaped: nothing is left to kill
            return status_;
        }
        if (done < 0 && errno != EINTR) {
            return std::nullopt;  // not our child any more; nothing to wait for
        }
        auto left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        if (pidfd) {
            pollfd waiter{static_cast<int>(pidfd.get()), POLLIN, 0};
            ::poll(&waiter, 1, static_cast<int>(std::min<milliseconds::rep>(left.count(), 60000)));
        } else {
            std::this_thread::sleep_for(std::min(left, milliseconds(5)));
        }
    }
}

void ChildProcess::kill() {
    if (running_) {
        ::kill(static_cast<pid_t>(pid_), SIGKILL);
    }
}

std::string native_path(std::string_view path) { return std::string(path); }

std::string current_executable_path() {
    std::string buffer(4096, '\0');
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    buffer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return buffer;
}

}  // namespace test_support
