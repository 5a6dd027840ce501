#include "panic.hpp"

#include <atomic>

#include "os/process.hpp"

namespace common {
namespace {

std::atomic<PanicHook> g_hook{nullptr};
std::atomic<bool> g_panicking{false};

[[noreturn]] void report_and_end(PanicInfo info) {
    // A panic inside the hook (or in a second thread) must not report again.
    if (!g_panicking.exchange(true)) {
        if (auto hook = g_hook.load()) {
            hook(info);
        }
    }
    os::fail_fast();
}

PanicInfo make_info(std::source_location where, std::optional<std::string> message) {
    return PanicInfo{where.file_name(), static_cast<unsigned>(where.line()),
                     static_cast<unsigned>(where.column()), std::move(message)};
}

}  // namespace

std::string describe_panic(const PanicInfo& info) {
    std::string text = "panicked at " + info.file + ":" + std::to_string(info.line) + ":" +
                       std::to_string(info.column);
    if (info.message) {
        text += ":\n";
        text += *info.message;
    }
    return text;
}

void set_panic_hook(PanicHook hook) { g_hook.store(hook); }

void panic(std::string_view message, std::source_location where) {
    report_and_end(make_info(where, std::string(message)));
}

void panic_without_message(std::source_location where) {
    report_and_end(make_info(where, std::nullopt));
}

}  // namespace common
