#pragma once
// A byte stream with time-outs: the accepted TCP connection in the program,
// an in-memory stream in tests.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "os/error.hpp"

namespace os {

// A point in time after which a transfer stops waiting; none: only the
// stream's own time-out limits the wait.
using Deadline = std::optional<std::chrono::steady_clock::time_point>;

class Stream {
public:
    virtual ~Stream() = default;

    // Receives at most buffer.size() bytes, waiting at most the read time-out
    // for the first byte; 0 means the peer has closed its side. A time-out is
    // an error whose is_timeout() holds.
    [[nodiscard]] Result<std::size_t> read(std::span<std::uint8_t> buffer) { return read_before(buffer, {}); }

    // Sends a prefix of the bytes, waiting at most the write time-out for room;
    // returns how many were taken (at least 1 on success). No room in time is
    // send_timeout_error().
    [[nodiscard]] Result<std::size_t> write(std::span<const std::uint8_t> bytes) { return write_before(bytes, {}); }

    // read() and write() that also stop waiting at the deadline, whichever
    // comes first. A deadline that has passed still allows one attempt that
    // does not wait.
    [[nodiscard]] virtual Result<std::size_t> read_before(std::span<std::uint8_t> buffer, Deadline deadline) = 0;
    [[nodiscard]] virtual Result<std::size_t> write_before(std::span<const std::uint8_t> bytes,
                                                           Deadline deadline) = 0;

    // Waits up to the time-out (0: not at all) until a read would not wait:
    // data, the peer's close or an error is there.
    [[nodiscard]] virtual Result<bool> wait_readable(std::chrono::milliseconds timeout) = 0;

    // Zero means wait without limit.
    [[nodiscard]] virtual Result<void> set_read_timeout(std::chrono::milliseconds timeout) = 0;
    [[nodiscard]] virtual Result<void> set_write_timeout(std::chrono::milliseconds timeout) = 0;
    [[nodiscard]] virtual std::chrono::milliseconds write_timeout() const = 0;

    // Ends the connection in both directions at once; later calls fail.
    virtual void close() = 0;
};

}  // namespace os
