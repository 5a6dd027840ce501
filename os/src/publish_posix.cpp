// Publishing a file through a temporary one that writers sharing the
// temporary path take turns on: an advisory lock on the temporary file, held
// from truncation to rename.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "fd_posix.hpp"
#include "os/fs.hpp"
#include "os/time.hpp"
#include "publish_limits.hpp"

namespace os {
namespace {

using Clock = std::chrono::steady_clock;

using detail::PUBLISH_MAX_ATTEMPTS;
using detail::PUBLISH_RETRY_PAUSE;
using detail::PUBLISH_WAIT;

std::unexpected<SysError> fail() { return std::unexpected(last_error()); }

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Opens the regular file at the temporary path, creating it if needed. A
// symbolic link, FIFO, socket or device there is removed, not opened through.
Result<UniqueFd> open_temporary(const std::string& temporary) {
    for (int attempt = 0;; ++attempt) {
        // O_NONBLOCK: a FIFO with no reader fails at once (ENXIO) instead of
        // waiting for one.
        UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                           0600));
        if (fd) {
            struct stat info {};
            if (::fstat(fd.get(), &info) != 0) {
                return fail();
            }
            if (S_ISREG(info.st_mode)) {
                return fd;
            }
        } else if (errno != ELOOP && errno != ENXIO) {
            return fail();
        }
        if (attempt == PUBLISH_MAX_ATTEMPTS) {
            return std::unexpected(SysError{ELOOP});
        }
        // unlink removes a link itself, never what it points to.
        if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) {
            return fail();
        }
    }
}

Result<void> lock_exclusively(int fd, Clock::time_point deadline) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK || Clock::now() >= deadline) {
            return fail();
        }
        sleep_until(Clock::now() + PUBLISH_RETRY_PAUSE);
    }
    return {};
}

// Whether the temporary path still names the open file: the writer that held
// the lock before may have renamed it away, or removed it.
Result<bool> still_named(int fd, const std::string& temporary) {
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0) {
        return fail();
    }
    if (::lstat(temporary.c_str(), &named) != 0) {
        if (errno == ENOENT) {
            return false;
        }
        return fail();
    }
    return same_file(opened, named);
}

}  // namespace

Result<void> publish_file(std::string_view temporary_path, std::string_view path, std::string_view bytes) {
    const std::string temporary(temporary_path);
    const std::string target(path);
    const auto deadline = Clock::now() + PUBLISH_WAIT;
    for (int attempt = 0;; ++attempt) {
        auto fd = open_temporary(temporary);
        if (!fd) {
            return std::unexpected(fd.error());
        }
        if (auto locked = lock_exclusively(fd->get(), deadline); !locked) {
            return locked;
        }
        auto named = still_named(fd->get(), temporary);
        if (!named) {
            return std::unexpected(named.error());
        }
        if (!*named) {
            if (attempt == PUBLISH_MAX_ATTEMPTS) {
                return std::unexpected(SysError{EAGAIN});
            }
            continue;  // a new temporary file, made by the next open
        }
        // A file that existed before keeps its old mode; the bytes may be a secret.
        if (::ftruncate(fd->get(), 0) != 0 || ::fchmod(fd->get(), 0600) != 0) {
            return fail();
        }
        if (auto written = write_all(fd->get(), bytes); !written) {
            return written;
        }
        // Renamed while still locked, so the next writer finds the name free
        // or a file of its own.
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            return fail();
        }
        return {};
    }
}

}  // namespace os
