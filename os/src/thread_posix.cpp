#include <pthread.h>
#include <sched.h>

#include <string>

#include "os/thread.hpp"

namespace os {

void set_current_thread_name(const char* name) {
    // Linux keeps at most 15 characters.
    const std::string shortened = std::string(name).substr(0, 15);
    ::pthread_setname_np(::pthread_self(), shortened.c_str());
}

namespace {

// Above every normal thread, below the system's own real-time threads (whose
// priorities start around 50).
constexpr int AUDIO_REALTIME_PRIORITY = 10;

}  // namespace

AudioThreadPriority::AudioThreadPriority() {
    int policy = 0;
    sched_param previous{};
    if (::pthread_getschedparam(::pthread_self(), &policy, &previous) != 0) {
        return;
    }
    const sched_param wanted{.sched_priority = AUDIO_REALTIME_PRIORITY};
    // Refused (EPERM) without the privilege or an RLIMIT_RTPRIO that allows it.
    if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &wanted) == 0) {
        raised_ = true;
        restore_ = policy;
        restore_priority_ = previous.sched_priority;
    }
}

AudioThreadPriority::~AudioThreadPriority() {
    if (raised_) {
        const sched_param previous{.sched_priority = restore_priority_};
        (void)::pthread_setschedparam(::pthread_self(), static_cast<int>(restore_), &previous);
    }
}

}  // namespace os
