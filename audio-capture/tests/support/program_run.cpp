#include "support/program_run.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "os/fs.hpp"
#include "os/process.hpp"

namespace test_support {

std::vector<LogRecord> parse_log(const std::string& content) {
    std::vector<LogRecord> records;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "log does not end with a line feed: " << content.substr(start);
            end = content.size();
        }
        const std::string line = content.substr(start, end - start);
        start = end + 1;
        // "{seconds} [audio:{pid}] {message}"
        const auto blank = line.find(' ');
        const auto close = line.find("] ");
        const bool is_record = blank != std::string::npos && blank > 0 &&
                               line.find_first_not_of("0123456789") == blank &&
                               line.compare(blank, 8, " [audio:") == 0 && close != std::string::npos;
        if (!is_record) {
            if (records.empty()) {
                ADD_FAILURE() << "log starts with a line that is not a record: " << line;
                continue;
            }
            records.back().message += "\n" + line;  // continuation of a multi-line message
            continue;
        }
        LogRecord record;
        record.pid = static_cast<std::uint32_t>(std::stoul(line.substr(blank + 8, close - blank - 8)));
        record.message = line.substr(close + 2);
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<std::string> messages_of(const std::vector<LogRecord>& records) {
    std::vector<std::string> messages;
    for (const auto& record : records) messages.push_back(record.message);
    return messages;
}

test_support::ChildProcess start_watched(const std::vector<std::string>& extra_args) {
    auto child = test_support::ChildProcess::spawn(BRQ_WATCHED_PATH, extra_args);
    if (!child) {
        ADD_FAILURE() << "cannot start the watched process: " << child.error();
        std::abort();
    }
    return std::move(*child);
}

namespace {

std::filesystem::path fs_path(const std::string& utf8) {
    const std::string native = test_support::native_path(utf8);
    return std::filesystem::path(std::u8string(native.begin(), native.end()));
}

// Copies the file into the folder; the copy's path.
std::filesystem::path copy_into(const std::string& folder, const std::string& file) {
    std::error_code error;
    std::filesystem::create_directory(fs_path(folder), error);
    const auto from = fs_path(file);
    const auto to = fs_path(folder) / from.filename();
    if (!std::filesystem::copy_file(from, to, error)) {
        ADD_FAILURE() << "cannot copy " << file << ": " << error.message();
    }
    return to;
}

}  // namespace

ProgramRun::ProgramRun(std::vector<std::string> args, test_support::EnvOverrides env,
                       const std::vector<std::string>& beside_program)
    : log_path_(folder_.file("audio.log")) {
    start(std::move(args), std::move(env), beside_program);
}

std::string ProgramRun::with_folder(const std::string& text) const {
    return text.starts_with("{dir}") ? folder_.path() + text.substr(5) : text;
}

void ProgramRun::start(std::vector<std::string> args, test_support::EnvOverrides env,
                       const std::vector<std::string>& beside_program) {
    for (auto& arg : args) {
        arg = arg == "{info}" ? info_path() : with_folder(arg);
    }
    for (auto& [name, value] : env) {
        if (value) value = with_folder(*value);
    }
    env.try_emplace("QUORVEL_AUDIO_LOG", log_path_);
    env.try_emplace("APPDATA", appdata());
    std::string program = BRQ_PROGRAM_PATH;
    if (!beside_program.empty()) {
        for (const auto& file : beside_program) (void)copy_into(folder_.file("bin"), file);
        const std::u8string copy = copy_into(folder_.file("bin"), program).u8string();
        program.assign(copy.begin(), copy.end());
    }
    auto child = test_support::ChildProcess::spawn(program, args, env);
    if (!child) {
        ADD_FAILURE() << "cannot start the program: " << child.error();
        return;
    }
    child_.emplace(std::move(*child));
}

std::optional<test_support::ExitStatus> ProgramRun::wait(std::chrono::milliseconds timeout) {
    if (!child_) return std::nullopt;
    return child_->wait_for(timeout);
}

std::vector<std::string> ProgramRun::log_messages() const {
    auto content = os::read_file(log_path_);
    return content ? messages_of(parse_log(*content)) : std::vector<std::string>{};
}

bool ProgramRun::wait_for_log(const std::string& message, std::chrono::milliseconds timeout) const {
    return test_support::wait_until(
        [&] {
            for (const auto& m : log_messages())
                if (m == message) return true;
            return false;
        },
        timeout);
}

std::optional<common::InfoFields> ProgramRun::wait_for_info(std::chrono::milliseconds timeout) const {
    std::optional<common::InfoFields> info;
    (void)test_support::wait_until(
        [&] {
            auto fields = common::parse_info_json(os::read_file(info_path()).value_or(""));
            if (fields) info = std::move(*fields);
            return info.has_value();
        },
        timeout);
    return info;
}

std::vector<std::string> ProgramRun::standard_args(std::uint32_t pid, std::vector<std::string> extra) {
    std::vector<std::string> args = {"--include-pid", std::to_string(pid), "--token", TOKEN, "--info-file",
                                     "{info}"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

}  // namespace test_support
