#pragma once
// A file descriptor with one owner, and writing to one.

#include <unistd.h>

#include <string_view>

#include "os/error.hpp"
#include "os/owned_handle.hpp"

namespace os {

struct FdTraits {
    using Value = int;
    static constexpr int EMPTY = -1;
    static bool is_valid(int fd) noexcept { return fd >= 0; }
    static void close(int fd) noexcept { ::close(fd); }
};
using UniqueFd = OwnedHandle<FdTraits>;

// Writes every byte, retrying interrupted and partial writes; a write that
// makes no progress is an error.
[[nodiscard]] Result<void> write_all(int fd, std::string_view bytes);

}  // namespace os
