#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fd_posix.hpp"
#include "os/fs.hpp"

namespace os {
namespace {

std::string to_c(std::string_view path) { return std::string(path); }

// Reads to the end of the file, or until more than max_bytes have arrived.
Result<std::string> read_up_to(int fd, std::size_t max_bytes) {
    std::string content;
    char buffer[4096];
    while (content.size() <= max_bytes) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(last_error());
        }
        if (n == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

}  // namespace

Result<void> write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(last_error());
        }
        if (n == 0) {
            return std::unexpected(SysError{EIO});
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

std::optional<std::string> get_env(std::string_view name) {
    const char* value = std::getenv(to_c(name).c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

bool is_directory(std::string_view path) {
    struct stat info {};
    return ::stat(to_c(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool path_exists(std::string_view path) {
    struct stat info {};
    return ::lstat(to_c(path).c_str(), &info) == 0;
}

Result<void> create_directories(std::string_view path) {
    if (path.empty() || is_directory(path)) {
        return {};
    }
    const std::string parent = parent_path(path);
    if (!parent.empty() && parent != path) {
        if (auto made = create_directories(parent); !made) {
            return made;
        }
    }
    if (::mkdir(to_c(path).c_str(), 0777) != 0 && !(errno == EEXIST && is_directory(path))) {
        return std::unexpected(last_error());
    }
    return {};
}

Result<std::uint64_t> file_size(std::string_view path) {
    struct stat info {};
    if (::stat(to_c(path).c_str(), &info) != 0) {
        return std::unexpected(last_error());
    }
    return static_cast<std::uint64_t>(info.st_size);
}

Result<void> remove_file(std::string_view path) {
    if (::unlink(to_c(path).c_str()) != 0) {
        return std::unexpected(last_error());
    }
    return {};
}

Result<std::string> read_file(std::string_view path) {
    UniqueFd fd(::open(to_c(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return std::unexpected(last_error());
    }
    return read_up_to(fd.get(), SIZE_MAX);
}

Result<std::string> read_small_file(std::string_view path, std::size_t max_bytes) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    UniqueFd fd(::open(to_c(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        return std::unexpected(last_error());
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return std::unexpected(last_error());
    }
    if (!S_ISREG(info.st_mode)) {
        return std::unexpected(SysError{EINVAL});
    }
    auto content = read_up_to(fd.get(), max_bytes);
    if (content && content->size() > max_bytes) {
        return std::unexpected(SysError{EFBIG});
    }
    return content;
}

Result<void> append_to_file(std::string_view path, std::string_view bytes) {
    // Non-blocking, so that a FIFO put at the path fails at once (no reader)
    // or drops what does not fit, instead of holding the writer for ever.
    // Regular files ignore the flag.
    UniqueFd fd(::open(to_c(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!fd) {
        return std::unexpected(last_error());
    }
    return write_all(fd.get(), bytes);
}

Result<void> write_private_file(std::string_view path, std::string_view bytes) {
    UniqueFd fd(::open(to_c(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) {
        return std::unexpected(last_error());
    }
    // A file that existed before keeps its old mode through O_TRUNC; the
    // token it will hold is a secret either way.
    if (::fchmod(fd.get(), 0600) != 0) {
        return std::unexpected(last_error());
    }
    return write_all(fd.get(), bytes);
}

Result<void> replace_file(std::string_view from, std::string_view to) {
    if (::rename(to_c(from).c_str(), to_c(to).c_str()) != 0) {
        return std::unexpected(last_error());
    }
    return {};
}

}  // namespace os
