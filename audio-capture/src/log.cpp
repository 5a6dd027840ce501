#include "log.hpp"

#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

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
// The thread writing a record under the log lock, if any. A panic or crash
// raised inside the writer must not wait for the lock its own thread holds.
std::atomic<std::thread::id> g_log_writer;

// How long a panic report waits for another thread's record to finish; after
// that the report is skipped and the process ends regardless.
constexpr auto REPORT_LOCK_WAIT = std::chrono::milliseconds(500);
constexpr auto REPORT_LOCK_RETRY = std::chrono::milliseconds(1);

// Marks the calling thread as the writer while the log lock is held.
class WriterMark {
public:
    WriterMark() { g_log_writer.store(std::this_thread::get_id()); }
    WriterMark(const WriterMark&) = delete;
    WriterMark& operator=(const WriterMark&) = delete;
    ~WriterMark() { g_log_writer.store(std::thread::id()); }
};

// Writes one record; the caller holds the log lock.
void write_record(std::string_view message) {
    const WriterMark mark;
    const std::string record = format_log_record(os::unix_seconds_now(), os::current_pid(), message);
    (void)os::append_to_file(*g_log_path, record);
}

// Takes the log lock unless this thread already holds it, or another thread
// keeps it longer than a report may wait.
std::unique_lock<std::mutex> lock_for_report() {
    std::unique_lock lock(g_log_lock, std::defer_lock);
    if (g_log_writer.load() == std::this_thread::get_id()) {
        return lock;
    }
    const auto deadline = std::chrono::steady_clock::now() + REPORT_LOCK_WAIT;
    while (!lock.try_lock() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(REPORT_LOCK_RETRY);
    }
    return lock;
}

// The process ends right after this returns, so a report that cannot be
// written (the lock unavailable, memory exhausted) is skipped.
void report_panic(const common::PanicInfo& info) noexcept {
    if (!g_log_path) {
        return;
    }
    try {
        const auto lock = lock_for_report();
        if (lock.owns_lock()) {
            write_record(std::string(texts::PANIC) + common::describe_panic(info));
        }
    } catch (...) {
    }
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
    write_record(message);
}

}  // namespace audio
