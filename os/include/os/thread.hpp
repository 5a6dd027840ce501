#pragma once
// Named threads.

#include <cstdint>
#include <functional>  // std::move_only_function
#include <thread>

#include "os/error.hpp"

namespace os {

// Starts a thread that first names itself (at most 15 characters), then runs
// the body. The body must not throw. A refusal of the platform is an error.
[[nodiscard]] Result<std::thread> spawn_thread(const char* name, std::move_only_function<void()> body);

void set_current_thread_name(const char* name);

// While it lives, the calling thread is scheduled as a real-time audio thread
// where the platform allows it: on Windows registered with the multimedia
// class scheduler as a "Pro Audio" task, on Linux given a real-time policy at
// a modest priority. Where that is refused the thread runs on as before and
// nothing is reported. Create and destroy it on the same thread; destruction
// restores the thread's previous scheduling.
class AudioThreadPriority {
public:
    AudioThreadPriority();
    ~AudioThreadPriority();
    AudioThreadPriority(const AudioThreadPriority&) = delete;
    AudioThreadPriority& operator=(const AudioThreadPriority&) = delete;

    // Whether the platform granted it.
    [[nodiscard]] bool raised() const { return raised_; }

private:
    bool raised_ = false;
    std::intptr_t restore_ = 0;   // Windows: the scheduler's task handle; POSIX: the previous policy
    int restore_priority_ = 0;    // POSIX: the previous priority
};

}  // namespace os
