#include <windows.h>

#include <algorithm>

#include "os/windows/unique_handle.hpp"
#include "os/time.hpp"

namespace os {
namespace {

using namespace std::chrono;

// FILETIME counts 100 ns ticks since 1601-01-01; this many lie before 1970.
constexpr std::uint64_t FILETIME_UNIX_EPOCH = 116'444'736'000'000'000ull;
constexpr std::uint64_t FILETIME_TICKS_PER_SECOND = 10'000'000ull;

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803), absent from MinGW's headers.
constexpr DWORD HIGH_RESOLUTION_TIMER = 0x2;

// A high-resolution timer is not bound to the system tick; older systems
// refuse the flag and get an ordinary one. The timer is made for each sleep:
// a thread_local owner would be destroyed by MinGW's thread-exit machinery,
// which is not safe to run destructors from.
UniqueHandle make_timer() {
    const DWORD access = TIMER_MODIFY_STATE | SYNCHRONIZE;
    UniqueHandle made(CreateWaitableTimerExW(nullptr, nullptr, HIGH_RESOLUTION_TIMER, access));
    if (!made) {
        made.reset(CreateWaitableTimerExW(nullptr, nullptr, 0, access));
    }
    return made;
}

// Waits about `span` (at most an hour per call; the caller loops).
void wait_once(HANDLE timer, nanoseconds span) {
    span = std::min<nanoseconds>(span, hours(1));
    auto ticks = (span.count() + 99) / 100;  // 100 ns units, rounded up
    if (timer != nullptr) {
        LARGE_INTEGER due{};
        due.QuadPart = -std::max<long long>(ticks, 1);  // negative: relative
        if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0) {
            return;
        }
    }
    // No timer: whole milliseconds, rounded up.
    Sleep(static_cast<DWORD>(std::max<long long>((span.count() + 999'999) / 1'000'000, 1)));
}

}  // namespace

std::uint64_t unix_seconds_now() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    if (ticks < FILETIME_UNIX_EPOCH) {
        return 0;
    }
    return (ticks - FILETIME_UNIX_EPOCH) / FILETIME_TICKS_PER_SECOND;
}

void sleep_until(steady_clock::time_point deadline) {
    // A timer may fire a little before the steady clock agrees, so the clock
    // has the last word.
    auto now = steady_clock::now();
    if (now >= deadline) {
        return;
    }
    const UniqueHandle timer = make_timer();
    for (; now < deadline; now = steady_clock::now()) {
        wait_once(timer.get(), duration_cast<nanoseconds>(deadline - now));
    }
}

}  // namespace os
