#include "standin_report.hpp"

#include <array>
#include <atomic>
#include <cstdio>
#include <vector>

#include "standin_config.hpp"

namespace standin {
namespace {

constexpr std::size_t KINDS = 4;
constexpr std::array<const char*, KINDS> KIND_NAMES = {"IActivateAudioInterfaceAsyncOperation", "IAudioClient",
                                                      "IAudioCaptureClient", "other"};
constexpr std::size_t MAX_VIOLATIONS = 100;

std::array<std::atomic<long>, KINDS> g_live{};
std::atomic<std::uint64_t> g_packets{0};
std::atomic<std::uint64_t> g_frames{0};

// Guards the two lists and the file. A slim lock, so that the report can be
// written at process exit without the C runtime's help.
SRWLOCK g_lock = SRWLOCK_INIT;
// Never freed: they must outlive every other object, down to process exit.
std::vector<std::string>& g_journal = *new std::vector<std::string>;
std::vector<std::string>& g_violations = *new std::vector<std::string>;

std::string live_line() {
    long total = 0;
    std::string detail;
    for (std::size_t i = 0; i < KINDS; ++i) {
        const long count = g_live[i].load();
        total += count;
        if (count != 0) {
            detail += detail.empty() ? " (" : ", ";
            detail += std::string(KIND_NAMES[i]) + " " + std::to_string(count);
        }
    }
    return "live: " + std::to_string(total) + (detail.empty() ? "" : detail + ")");
}

void write_text(const std::string& text) {
    const std::wstring& path = config().report_path;
    if (path.empty()) return;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    (void)WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// Called with the lock held.
void write_report(bool final) {
    std::string text;
    for (const auto& line : g_journal) text += line + "\n";
    for (const auto& error : config().errors) text += "error: " + error + "\n";
    for (const auto& line : g_violations) text += "violation: " + line + "\n";
    text += "delivered: " + std::to_string(g_packets.load()) + " packets, " + std::to_string(g_frames.load()) +
            " sample frames\n";
    text += live_line() + "\n";
    if (final) text += "exit\n";
    write_text(text);
}

}  // namespace

void object_created(Kind kind) { ++g_live[static_cast<std::size_t>(kind)]; }
void object_destroyed(Kind kind) { --g_live[static_cast<std::size_t>(kind)]; }

void journal(const std::string& line) {
    AcquireSRWLockExclusive(&g_lock);
    g_journal.push_back(line);
    write_report(false);
    ReleaseSRWLockExclusive(&g_lock);
}

void violation(const std::string& text) {
    AcquireSRWLockExclusive(&g_lock);
    if (g_violations.size() < MAX_VIOLATIONS) {
        g_violations.push_back(text);
        write_report(false);
    }
    ReleaseSRWLockExclusive(&g_lock);
}

void packet_delivered(std::uint32_t frames) {
    ++g_packets;
    g_frames += frames;
}

void write_final_report() noexcept {
    // The other threads are gone by now; one of them may have died holding
    // the lock, and then the report says so instead of hanging the exit.
    if (!TryAcquireSRWLockExclusive(&g_lock)) {
        write_text("incomplete: a thread held the report's lock when the process ended\nexit\n");
        return;
    }
    write_report(true);
}

std::string hex(HRESULT code) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(static_cast<std::uint32_t>(code)));
    return text;
}

}  // namespace standin
