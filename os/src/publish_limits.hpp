#pragma once
// Limits shared by both platforms' publish_file.

#include <chrono>

namespace os::detail {

// How long a writer waits for other writers (each holds the temporary file for
// one small write and a rename) and, on Windows, for readers that block the
// replace.
inline constexpr auto PUBLISH_WAIT = std::chrono::seconds(5);
inline constexpr auto PUBLISH_RETRY_PAUSE = std::chrono::milliseconds(1);
// Entries removed from the temporary path, or files renamed away under a
// waiting writer, before giving up: only a busy adversary gets this far.
inline constexpr int PUBLISH_MAX_ATTEMPTS = 100;

}  // namespace os::detail
