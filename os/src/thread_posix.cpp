#include <pthread.h>

#include <string>

#include "os/thread.hpp"

namespace os {

void set_current_thread_name(const char* name) {
    // Linux keeps at most 15 characters.
    const std::string shortened = std::string(name).substr(0, 15);
    ::pthread_setname_np(::pthread_self(), shortened.c_str());
}

}  // namespace os
