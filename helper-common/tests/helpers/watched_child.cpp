// brq-watched: a small process of the test suite's own, started by tests as a
// process to watch, to climb over, or to report what it was given.
//
//   --sleep-ms N       exit after N ms (default: run until killed); with
//                      --chain it is handed down and only the deepest copy
//                      sleeps, so the chain ends from the bottom up
//   --exit-code N      the status when the sleep ends (default 0)
//   --pid-file PATH    write the own pid to PATH (atomically)
//   --chain N          start a copy of itself with --chain N-1 and the same
//                      --pid-file, and end when that child ends; the deepest
//                      copy (--chain 0) writes the pid file. N+1 processes
//                      in all, every one running this executable.
//   --watch-parent PID also end when process PID ends (chains pass it on,
//                      so that killing the top ends the whole chain)
//   --args-file PATH   write every argument, each followed by a NUL
//   --                 ends the options; what follows is only reported
//   --env-file PATH    with --env-name NAME (repeatable): write one line per
//                      name, "NAME=value" or "NAME unset"
//   --fail-fast        end through os::fail_fast()
//   --crash-report PATH  install the crash handler, then crash; the handler
//                      writes its description to PATH and fails fast
//   --write-info PATH  with --text TEXT and --rounds N: publish TEXT as the
//                      info file PATH N times, as the program does, then exit
//
// Bad arguments end it with status 2, a file that cannot be written with 4.

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "info_file.hpp"
#include "os/fs.hpp"
#include "os/process.hpp"
#include "os/time.hpp"
#include "support/child_process.hpp"

namespace {

using namespace std::chrono;

struct Options {
    std::optional<std::uint64_t> sleep_ms;
    int exit_code = 0;
    std::optional<std::string> pid_file;
    std::uint64_t chain = 0;
    std::optional<std::uint32_t> watch_parent;
    std::optional<std::string> args_file;
    std::optional<std::string> env_file;
    std::vector<std::string> env_names;
    bool fail_fast = false;
    std::optional<std::string> crash_report;
    std::optional<std::string> info_path;
    std::string info_text;
    std::uint64_t rounds = 1;
};

[[noreturn]] void usage_error(const std::string& why) {
    std::fprintf(stderr, "brq-watched: %s\n", why.c_str());
    os::exit_process(2);
}

template <class T>
T parse_number(const std::string& text) {
    T value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        usage_error("not a number: " + text);
    }
    return value;
}

Options parse(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--") {
            break;  // the rest is only there to be reported by --args-file
        }
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) {
                usage_error(name + " needs a value");
            }
            return args[++i];
        };
        if (name == "--sleep-ms") {
            options.sleep_ms = parse_number<std::uint64_t>(value());
        } else if (name == "--exit-code") {
            options.exit_code = parse_number<int>(value());
        } else if (name == "--pid-file") {
            options.pid_file = value();
        } else if (name == "--chain") {
            options.chain = parse_number<std::uint64_t>(value());
        } else if (name == "--watch-parent") {
            options.watch_parent = parse_number<std::uint32_t>(value());
        } else if (name == "--args-file") {
            options.args_file = value();
        } else if (name == "--env-file") {
            options.env_file = value();
        } else if (name == "--env-name") {
            options.env_names.push_back(value());
        } else if (name == "--fail-fast") {
            options.fail_fast = true;
        } else if (name == "--crash-report") {
            options.crash_report = value();
        } else if (name == "--write-info") {
            options.info_path = value();
        } else if (name == "--text") {
            options.info_text = value();
        } else if (name == "--rounds") {
            options.rounds = parse_number<std::uint64_t>(value());
        } else {
            usage_error("unknown argument: " + name);
        }
    }
    return options;
}

// Readers poll for these files, so they must never see half of one.
void publish(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp";
    auto written = os::write_private_file(temporary, content);
    if (written) {
        written = os::replace_file(temporary, path);
    }
    if (!written) {
        std::fprintf(stderr, "brq-watched: %s: %s\n", path.c_str(), written.error().text().c_str());
        os::exit_process(4);
    }
}

std::string g_crash_report;

void on_crash(const std::string& description) {
    (void)os::write_private_file(g_crash_report, description);
    os::fail_fast();
}

[[noreturn]] void crash() {
    // The compiler cannot prove the address null, so it emits a real store.
    volatile std::uintptr_t address = 0;
    *reinterpret_cast<volatile int*>(address) = 1;
    os::exit_process(1);  // not reached where the platform traps the store
}

}  // namespace

int main() {
    const std::vector<std::string> args = os::program_arguments();
    const Options options = parse(args);

    if (options.args_file) {
        std::string content;
        for (const auto& arg : args) {
            content += arg;
            content += '\0';
        }
        publish(*options.args_file, content);
    }
    if (options.env_file) {
        std::string content;
        for (const auto& name : options.env_names) {
            auto value = os::get_env(name);
            content += value ? name + "=" + *value + "\n" : name + " unset\n";
        }
        publish(*options.env_file, content);
    }
    if (options.crash_report) {
        g_crash_report = *options.crash_report;
        os::install_crash_handler(&on_crash);
        crash();
    }
    if (options.fail_fast) {
        os::fail_fast();
    }
    if (options.info_path) {
        for (std::uint64_t i = 0; i < options.rounds; ++i) {
            if (auto written = common::write_info_file(*options.info_path, options.info_text); !written) {
                std::fprintf(stderr, "brq-watched: round %llu: %s\n", static_cast<unsigned long long>(i),
                             written.error().text().c_str());
                return 4;
            }
        }
        return 0;
    }

    std::optional<os::ProcessWatch> parent;
    if (options.watch_parent) {
        parent = os::ProcessWatch::open(*options.watch_parent);
        if (!parent) {
            return 0;  // already gone
        }
    }

    std::optional<test_support::ChildProcess> child;
    if (options.chain > 0) {
        std::vector<std::string> child_args = {"--chain", std::to_string(options.chain - 1), "--watch-parent",
                                               std::to_string(os::current_pid())};
        if (options.pid_file) {
            child_args.insert(child_args.end(), {"--pid-file", *options.pid_file});
        }
        if (options.sleep_ms) {
            child_args.insert(child_args.end(), {"--sleep-ms", std::to_string(*options.sleep_ms)});
        }
        auto started = test_support::ChildProcess::spawn(test_support::current_executable_path(), child_args);
        if (!started) {
            std::fprintf(stderr, "brq-watched: %s\n", started.error().c_str());
            return 5;
        }
        child = std::move(*started);
    } else if (options.pid_file) {
        publish(*options.pid_file, std::to_string(os::current_pid()));
    }

    const auto start = steady_clock::now();
    std::optional<steady_clock::time_point> deadline;
    if (options.sleep_ms && !child) {
        deadline = start + milliseconds(*options.sleep_ms);
    }
    constexpr auto poll_every = milliseconds(20);
    for (;;) {
        if (deadline && steady_clock::now() >= *deadline) {
            return options.exit_code;
        }
        if (parent && parent->has_ended()) {
            return 0;  // the child, if any, is killed on the way out
        }
        if (child) {
            if (child->wait_for(poll_every)) {
                return 0;
            }
        } else {
            auto next = steady_clock::now() + poll_every;
            os::sleep_until(deadline ? std::min(next, *deadline) : next);
        }
    }
}
