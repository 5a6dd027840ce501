#include <dirent.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "os/fs.hpp"
#include "os/process.hpp"

namespace os {
namespace {

std::optional<std::uint32_t> parse_pid(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// The executable's file name, or the short command name when the link
// cannot be read (kernel threads, other users' processes).
std::string process_name(const std::string& proc_dir, std::string_view stat) {
    char target[4096];
    const ssize_t n = ::readlink((proc_dir + "/exe").c_str(), target, sizeof target);
    if (n > 0) {
        std::string path(target, static_cast<std::size_t>(n));
        constexpr std::string_view deleted = " (deleted)";
        if (path.ends_with(deleted)) {
            path.resize(path.size() - deleted.size());
        }
        return file_name(path);
    }
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return {};
    }
    return std::string(stat.substr(open + 1, close - open - 1));
}

// The parent pid from /proc/<pid>/stat: the command name is in parentheses
// and may contain anything, so parsing starts after the last ')'.
std::optional<std::uint32_t> parent_from_stat(std::string_view stat) {
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = stat.substr(close + 1);  // " S ppid ..."
    const auto state_start = rest.find_first_not_of(' ');
    if (state_start == std::string_view::npos) {
        return std::nullopt;
    }
    rest = rest.substr(state_start);
    const auto after_state = rest.find(' ');
    if (after_state == std::string_view::npos) {
        return std::nullopt;
    }
    rest = rest.substr(after_state + 1);
    return parse_pid(rest.substr(0, rest.find(' ')));
}

}  // namespace

std::uint32_t current_pid() { return static_cast<std::uint32_t>(::getpid()); }

std::vector<std::string> program_arguments() {
    std::vector<std::string> args;
    auto content = read_file("/proc/self/cmdline");
    if (!content) {
        return args;
    }
    // Each argument ends with a NUL; the first is the program's own name.
    std::size_t start = 0;
    bool first = true;
    while (start < content->size()) {
        std::size_t end = content->find('\0', start);
        if (end == std::string::npos) {
            end = content->size();
        }
        if (!first) {
            args.emplace_back(content->substr(start, end - start));
        }
        first = false;
        start = end + 1;
    }
    return args;
}

void exit_process(int status) { ::_exit(status); }

void fail_fast() { std::abort(); }

void install_crash_handler(void (*)(const std::string&)) {
    // Crashes on POSIX end with their signal; the sanitizers report them.
}

std::vector<ProcessEntry> snapshot_processes() {
    std::vector<ProcessEntry> rows;
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) {
        return rows;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const auto pid = parse_pid(entry->d_name);
        if (!pid) {
            continue;
        }
        const std::string proc_dir = std::string("/proc/") + entry->d_name;
        auto stat = read_file(proc_dir + "/stat");
        if (!stat) {
            continue;  // the process ended meanwhile
        }
        const auto parent = parent_from_stat(*stat);
        if (!parent) {
            continue;
        }
        rows.push_back(ProcessEntry{process_name(proc_dir, *stat), *pid, *parent});
    }
    ::closedir(dir);
    return rows;
}

void KernelHandleTraits::close(Value value) noexcept { ::close(static_cast<int>(value)); }

std::optional<ProcessWatch> ProcessWatch::open(std::uint32_t pid) {
    if (pid == 0 || pid > 0x7FFFFFFFu) {
        return std::nullopt;
    }
    const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
    if (fd < 0) {
        return std::nullopt;
    }
    // pidfds are always close-on-exec.
    return ProcessWatch(KernelHandle(fd));
}

bool ProcessWatch::has_ended() const {
    pollfd waiter{static_cast<int>(handle_.get()), POLLIN, 0};
    return ::poll(&waiter, 1, 0) == 1 && (waiter.revents & POLLIN) != 0;
}

}  // namespace os
