#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "os/thread.hpp"
#include "os/time.hpp"

#ifdef _WIN32
#include <windows.h>
// Windows 10 1607; kernel32 exports it but MinGW's headers do not declare it.
extern "C" WINBASEAPI HRESULT WINAPI GetThreadDescription(HANDLE thread, PWSTR* description);
#else
#include <pthread.h>
#include <sched.h>
#endif

namespace {

using namespace std::chrono;

// The calling thread's name as the platform records it.
std::string current_thread_name() {
#ifdef _WIN32
    PWSTR wide = nullptr;
    std::string name;
    if (SUCCEEDED(GetThreadDescription(GetCurrentThread(), &wide)) && wide != nullptr) {
        for (const wchar_t* p = wide; *p != L'\0'; ++p) {
            name += static_cast<char>(*p);  // the names used here are ASCII
        }
        LocalFree(wide);
    }
    return name;
#else
    char buffer[64] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    return buffer;
#endif
}

TEST(OsThread, SpawnedThreadCarriesItsNameAndRunsTheBody) {
    std::string seen;
    auto thread = os::spawn_thread("captura", [&seen] { seen = current_thread_name(); });
    ASSERT_TRUE(thread) << thread.error().text();
    thread->join();
    EXPECT_EQ(seen, "captura");
}

// The calling thread's scheduling as the platform reports it.
std::pair<int, int> current_scheduling() {
#ifdef _WIN32
    return {GetThreadPriority(GetCurrentThread()), 0};
#else
    int policy = 0;
    sched_param parameters{};
    pthread_getschedparam(pthread_self(), &policy, &parameters);
    return {policy, parameters.sched_priority};
#endif
}

// Granted (Linux: with the privilege, as root) or refused, the thread's
// scheduling is its own again once the scope ends.
TEST(OsThread, AudioPriorityLastsForItsScope) {
    const auto before = current_scheduling();
    {
        const os::AudioThreadPriority audio;
#ifndef _WIN32
        if (audio.raised()) {
            EXPECT_EQ(current_scheduling().first, SCHED_FIFO);
        } else {
            EXPECT_EQ(current_scheduling(), before) << "a refusal changes nothing";
        }
#endif
    }
    EXPECT_EQ(current_scheduling(), before);
}

TEST(OsTime, UnixSecondsFollowTheSystemClock) {
    const auto reference = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    const auto now = static_cast<long long>(os::unix_seconds_now());
    EXPECT_LE(std::abs(now - reference), 2);
}

// MinGW's own sleeps cut to whole milliseconds and may wake early; the OS
// layer's must not.
TEST(OsTime, SleepUntilNeverReturnsBeforeTheDeadline) {
    for (auto step : {microseconds(300), microseconds(1000), microseconds(2500)}) {
        for (int i = 0; i < 20; ++i) {
            const auto deadline = steady_clock::now() + step;
            os::sleep_until(deadline);
            ASSERT_GE(steady_clock::now(), deadline) << "step " << step.count() << " us, round " << i;
        }
    }
}

TEST(OsTime, SleepUntilAPastDeadlineReturnsAtOnce) {
    const auto start = steady_clock::now();
    os::sleep_until(start - seconds(5));
    os::sleep_until(steady_clock::time_point::min());
    EXPECT_LT(steady_clock::now() - start, seconds(1));
}

}  // namespace
