#include <windows.h>

#include <algorithm>

#include "support/child_process.hpp"

namespace test_support {
namespace {

using std::chrono::milliseconds;

// Test-side conversions; the product's own live in the OS layer.
std::wstring widen(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length, nullptr,
                        nullptr);
    return utf8;
}

std::string error_text(const char* call) {
    return std::string(call) + " failed (os error " + std::to_string(GetLastError()) + ")";
}

// Appends one argument so that CommandLineToArgvW (and the C runtime) give it
// back unchanged: quotes around it when it is empty or has blanks or quotes;
// inside quotes, backslashes are doubled where they precede a quote (or the
// closing quote) and each quote is escaped.
void append_quoted(std::wstring& line, std::wstring_view arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

bool same_name(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::wstring_view name_of(std::wstring_view entry) {
    // "=C:=C:\dir" entries have a name that starts with '='.
    std::size_t equals = entry.find(L'=', 1);
    return entry.substr(0, equals);
}

// The current environment with the overrides applied, as a sorted
// CREATE_UNICODE_ENVIRONMENT block.
std::wstring environment_block(const EnvOverrides& overrides) {
    std::vector<std::wstring> entries;
    if (wchar_t* current = GetEnvironmentStringsW()) {
        for (const wchar_t* p = current; *p != L'\0'; p += std::wcslen(p) + 1) {
            entries.emplace_back(p);
        }
        FreeEnvironmentStringsW(current);
    }
    for (const auto& [name, value] : overrides) {
        std::wstring wide_name = widen(name);
        std::erase_if(entries, [&](const std::wstring& e) { return same_name(name_of(e), wide_name); });
        if (value) {
            entries.push_back(wide_name + L"=" + widen(*value));
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        std::wstring_view x = name_of(a);
        std::wstring_view y = name_of(b);
        return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()),
                                    TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const auto& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    if (entries.empty()) {
        block += L'\0';  // an empty block still needs two terminators
    }
    return block;
}

}  // namespace

std::string native_path(std::string_view path) {
    std::string converted(path);
    if (converted.size() >= 1 && converted[0] == '/' && (converted.size() < 2 || converted[1] != '/')) {
        converted.insert(0, "Z:");
    }
    std::replace(converted.begin(), converted.end(), '/', '\\');
    return converted;
}

std::string current_executable_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return narrow(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::expected<ChildProcess, std::string> ChildProcess::spawn(const std::string& path,
                                                            const std::vector<std::string>& args,
                                                            const EnvOverrides& env, ChildOutput output) {
    std::wstring program = widen(native_path(path));
    // The program name is parsed by other rules (no escapes), so it is only quoted.
    std::wstring command_line = L"\"" + program + L"\"";
    for (const auto& arg : args) {
        command_line += L' ';
        append_quoted(command_line, widen(arg));
    }
    std::wstring block = environment_block(env);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // A detached child has no console, so its standard streams lead nowhere.
    // (CREATE_NO_WINDOW would give it a console host of its own, which under
    // Wine can outlive a killed child and keep our output pipes open.)
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | (output == ChildOutput::Discard ? DETACHED_PROCESS : 0);
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, flags, block.data(),
                        nullptr, &startup, &info)) {
        return std::unexpected(error_text("CreateProcessW") + " for " + narrow(program));
    }
    CloseHandle(info.hThread);
    return ChildProcess(info.dwProcessId, reinterpret_cast<std::intptr_t>(info.hProcess));
}

void ChildProcess::RunningTraits::close(Value value) noexcept {
    const auto process = reinterpret_cast<HANDLE>(value);
    TerminateProcess(process, KILLED_EXIT_STATUS);
    WaitForSingleObject(process, 10'000);
    CloseHandle(process);
}

std::optional<ExitStatus> ChildProcess::wait_for(milliseconds timeout) {
    if (!running_) {
        return status_;
    }
    const auto process = reinterpret_cast<HANDLE>(running_.get());
    auto wait_ms = static_cast<DWORD>(std::clamp<milliseconds::rep>(timeout.count(), 0, INFINITE - 1));
    if (WaitForSingleObject(process, wait_ms) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) {
        return std::nullopt;
    }
    status_ = code;
    // Like a reaped child on POSIX: once the last handle is closed the
    // process object goes away and OpenProcess on its pid fails.
    CloseHandle(reinterpret_cast<HANDLE>(running_.release()));
    return status_;
}

void ChildProcess::kill() {
    if (running_) {
        TerminateProcess(reinterpret_cast<HANDLE>(running_.get()), KILLED_EXIT_STATUS);
    }
}

}  // namespace test_support
