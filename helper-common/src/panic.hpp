#pragma once
// Broken invariants end the process through panic(): the installed report hook
// writes one record, then the process ends through the platform's fail-fast exit.

#include <optional>
#include <source_location>
#include <string>
#include <string_view>

namespace common {

struct PanicInfo {
    std::string file;
    unsigned line = 0;
    unsigned column = 0;
    std::optional<std::string> message;  // absent when the payload is not text
};

// "panicked at {file}:{line}:{column}" and, with a message, ":" LF message.
[[nodiscard]] std::string describe_panic(const PanicInfo& info);

using PanicHook = void (*)(const PanicInfo& info);

// Replaces the report hook (the default reports nothing). Call before any
// other thread exists.
void set_panic_hook(PanicHook hook);

// Reports through the hook and ends the process; never returns.
[[noreturn]] void panic(std::string_view message,
                        std::source_location where = std::source_location::current());

// The same for a panic whose payload is not text.
[[noreturn]] void panic_without_message(std::source_location where = std::source_location::current());

}  // namespace common
