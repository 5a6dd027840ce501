#pragma once
// A byte stream with time-outs: the accepted TCP connection in the program,
// an in-memory stream in tests.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "os/error.hpp"

namespace os {

class Stream {
public:
    virtual ~Stream() = default;

    // Receives at most buffer.size() bytes, waiting at most the read time-out
    // for the first byte; 0 means the peer has closed its side. A time-out is
    // an error whose is_timeout() holds.
    [[nodiscard]] virtual Result<std::size_t> read(std::span<std::uint8_t> buffer) = 0;

    // Sends a prefix of the bytes, waiting at most the write time-out for room;
    // returns how many were taken (at least 1 on success).
    [[nodiscard]] virtual Result<std::size_t> write(std::span<const std::uint8_t> bytes) = 0;

    // Waits up to the time-out (0: not at all) until a read would not wait:
    // data, the peer's close or an error is there.
    [[nodiscard]] virtual Result<bool> wait_readable(std::chrono::milliseconds timeout) = 0;

    // Zero means wait without limit.
    [[nodiscard]] virtual Result<void> set_read_timeout(std::chrono::milliseconds timeout) = 0;
    [[nodiscard]] virtual Result<void> set_write_timeout(std::chrono::milliseconds timeout) = 0;

    // Ends the connection in both directions at once; later calls fail.
    virtual void close() = 0;
};

}  // namespace os
