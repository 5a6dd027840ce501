#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cwchar>
#include <memory>

#include "os/windows/unique_handle.hpp"
#include "os/process.hpp"
#include "os/text.hpp"
#include "os/windows/wide_text.hpp"

namespace os {
namespace {

// Handed to the crash handler: "exceção não tratada 0x{code} em 0x{address}".
constexpr const char* CRASH_PREFIX = "exceção não tratada ";
constexpr const char* CRASH_ADDRESS = " em ";

// The fast-fail code for a fatal application exit (FAST_FAIL_FATAL_APP_EXIT).
constexpr unsigned FAST_FAIL_FATAL_APP_EXIT_CODE = 7;

std::atomic<void (*)(const std::string&)> g_crash_handler{nullptr};

// Set once a crash is being reported.
std::atomic<bool> g_reporting_crash{false};

// STATUS_STACK_BUFFER_OVERRUN, the status of a fast fail.
constexpr DWORD FAST_FAIL_STATUS = 0xC0000409;

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* pointers) {
    auto handler = g_crash_handler.load();
    if (handler == nullptr) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    std::uint64_t code = 0;
    std::uint64_t address = 0;
    if (pointers != nullptr && pointers->ExceptionRecord != nullptr) {
        code = pointers->ExceptionRecord->ExceptionCode;
        address = reinterpret_cast<std::uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
    }
    // A fast fail that still reaches the filter (Wine delivers them), or a
    // crash while a crash is being reported, ends the process without another
    // report: reporting again would recurse until the stack is gone.
    if (code == FAST_FAIL_STATUS || g_reporting_crash.exchange(true)) {
        TerminateProcess(GetCurrentProcess(), FAST_FAIL_STATUS);
    }
    handler(CRASH_PREFIX + hex_text(code, 8) + CRASH_ADDRESS + hex_text(address, 16));
    fail_fast();  // the handler should not return; if it does, end here
}

struct LocalFreeDeleter {
    void operator()(wchar_t** p) const { LocalFree(p); }
};

}  // namespace

std::uint32_t current_pid() { return GetCurrentProcessId(); }

std::vector<std::string> program_arguments() {
    int count = 0;
    std::unique_ptr<wchar_t*, LocalFreeDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> arguments;
    if (!argv) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(to_utf8(argv.get()[i]));
    }
    return arguments;
}

void exit_process(int status) { ExitProcess(static_cast<UINT>(status)); }

void fail_fast() {
    // __fastfail: interrupt 0x29 with the code in ECX ends the process at
    // once (status 0xC0000409), with no handler or debugger in between.
    // abort() is not used: its status 3 already means "process cannot be opened".
    // Wine turns the interrupt into an exception that reaches the unhandled
    // exception filter; without a filter it ends the process as Windows does.
    SetUnhandledExceptionFilter(nullptr);
    __asm__ __volatile__("int $0x29" ::"c"(FAST_FAIL_FATAL_APP_EXIT_CODE) : "memory");
    __builtin_unreachable();
}

void install_crash_handler(void (*handler)(const std::string& description)) {
    g_crash_handler.store(handler);
    SetUnhandledExceptionFilter(&on_unhandled_exception);
}

std::vector<ProcessEntry> snapshot_processes() {
    std::vector<ProcessEntry> rows;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return rows;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        std::size_t length = wcsnlen(entry.szExeFile, std::size(entry.szExeFile));
        rows.push_back(ProcessEntry{to_utf8(std::wstring_view(entry.szExeFile, length)),
                                    entry.th32ProcessID, entry.th32ParentProcessID});
    }
    return rows;
}

void KernelHandleTraits::close(Value value) noexcept { CloseHandle(reinterpret_cast<HANDLE>(value)); }

std::optional<ProcessWatch> ProcessWatch::open(std::uint32_t pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!is_valid_handle(process)) {
        return std::nullopt;
    }
    return ProcessWatch(KernelHandle(reinterpret_cast<std::intptr_t>(process)));
}

bool ProcessWatch::has_ended() const {
    if (!handle_) {
        return false;
    }
    return WaitForSingleObject(reinterpret_cast<HANDLE>(handle_.get()), 0) == WAIT_OBJECT_0;
}

}  // namespace os
