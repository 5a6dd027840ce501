#include "log.hpp"

#include <exception>
#include <mutex>
#include <optional>

#include "data_folder.hpp"
#include "os/fs.hpp"
#include "os/process.hpp"
#include "os/time.hpp"
#include "panic.hpp"
#include "texts.hpp"

namespace audio {
namespace {

// Set once by init_log before other threads exist, read-only afterwards.
std::optional<std::string> g_log_path;
// Keeps each record whole within the process; the innermost lock.
std::mutex g_log_lock;

void report_panic(const common::PanicInfo& info) {
    log_line(std::string(texts::PANIC) + common::describe_panic(info));
}

// Anything thrown and never caught ends here.
[[noreturn]] void on_terminate() {
    std::optional<std::string> message;
    if (auto current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& error) {
            message = error.what();
        } catch (...) {
        }
    }
    if (message) {
        common::panic(*message);
    }
    common::panic_without_message();
}

[[noreturn]] void on_crash(const std::string& description) { common::panic(description); }

}  // namespace

std::string format_log_record(std::uint64_t unix_seconds, std::uint32_t pid, std::string_view message) {
    std::string record = std::to_string(unix_seconds);
    record += " [audio:";
    record += std::to_string(pid);
    record += "] ";
    record += message;
    record += '\n';
    return record;
}

void init_log() {
    std::string path;
    if (auto chosen = os::get_env(LOG_PATH_VARIABLE)) {
        path = std::move(*chosen);
    } else {
        path = os::join_path(common::resolve_data_folder(), common::LOG_FILE_NAME);
    }
    if (const std::string folder = os::parent_path(path); !folder.empty()) {
        (void)os::create_directories(folder);
    }
    if (auto size = os::file_size(path); size && *size > LOG_SIZE_LIMIT) {
        (void)os::remove_file(path);
    }
    g_log_path = std::move(path);

    common::set_panic_hook(report_panic);
    std::set_terminate(on_terminate);
    os::install_crash_handler(on_crash);
}

void log_line(std::string_view message) {
    if (!g_log_path) {
        return;
    }
    std::lock_guard guard(g_log_lock);
    const std::string record = format_log_record(os::unix_seconds_now(), os::current_pid(), message);
    (void)os::append_to_file(*g_log_path, record);
}

}  // namespace audio
