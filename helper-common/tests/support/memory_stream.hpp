#pragma once
// An in-memory os::Stream for tests and fuzzers. The far side, MemoryPeer,
// scripts what each read returns and records what was written; the test
// keeps the peer while the stream itself is handed to the code under test.
// Single-threaded: the peer and the stream are used from one thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/stream.hpp"

namespace test_support {

class MemoryPeer {
public:
    // One piece of input. Each piece is delivered by reads of its own, never
    // merged with the next piece; a read takes as much of it as fits.
    void push_input(std::span<const std::uint8_t> bytes);
    void push_input(std::string_view text);
    // The next read fails with the platform's time-out error.
    void push_timeout();
    // The peer has closed: every read from here on returns 0.
    void push_eof();

    // Everything written to the stream so far, and taking it out.
    [[nodiscard]] const std::vector<std::uint8_t>& written() const { return written_; }
    [[nodiscard]] std::vector<std::uint8_t> take_written();

    // Accept at most this many more written bytes, then let writes time out
    // (nullopt: accept everything).
    void limit_writes(std::optional<std::size_t> bytes) { write_budget_ = bytes; }

    // A slow peer: every read and write first waits this long (a deadline
    // that comes first ends it with the time-out), and a write takes at most
    // `write_piece` bytes.
    void slow_down(std::chrono::milliseconds delay, std::size_t write_piece = SIZE_MAX) {
        delay_ = delay;
        write_piece_ = write_piece;
    }

    [[nodiscard]] bool closed() const { return closed_; }
    [[nodiscard]] std::size_t reads() const { return reads_; }
    [[nodiscard]] std::size_t bytes_delivered() const { return delivered_; }
    [[nodiscard]] bool input_pending() const { return !script_.empty(); }
    [[nodiscard]] std::chrono::milliseconds read_timeout() const { return read_timeout_; }
    [[nodiscard]] std::chrono::milliseconds write_timeout() const { return write_timeout_; }

private:
    friend class MemoryStream;
    enum class Event { Data, Timeout, Eof };
    struct Piece {
        Event event = Event::Data;
        std::vector<std::uint8_t> bytes;
        std::size_t offset = 0;
    };

    std::deque<Piece> script_;
    std::vector<std::uint8_t> written_;
    std::optional<std::size_t> write_budget_;
    std::chrono::milliseconds delay_{0};
    std::size_t write_piece_ = SIZE_MAX;
    bool closed_ = false;
    std::size_t reads_ = 0;
    std::size_t delivered_ = 0;
    std::chrono::milliseconds read_timeout_{0};
    std::chrono::milliseconds write_timeout_{0};
};

class MemoryStream final : public os::Stream {
public:
    explicit MemoryStream(std::shared_ptr<MemoryPeer> peer) : peer_(std::move(peer)) {}

    // With nothing scripted a read times out, as an idle socket would.
    [[nodiscard]] os::Result<std::size_t> read_before(std::span<std::uint8_t> buffer, os::Deadline deadline) override;
    [[nodiscard]] os::Result<std::size_t> write_before(std::span<const std::uint8_t> bytes,
                                                       os::Deadline deadline) override;
    // Readable whenever something is scripted (even a time-out or the end).
    [[nodiscard]] os::Result<bool> wait_readable(std::chrono::milliseconds) override {
        return peer_->input_pending();
    }
    [[nodiscard]] os::Result<void> set_read_timeout(std::chrono::milliseconds timeout) override;
    [[nodiscard]] os::Result<void> set_write_timeout(std::chrono::milliseconds timeout) override;
    [[nodiscard]] std::chrono::milliseconds write_timeout() const override { return peer_->write_timeout_; }
    void close() override;

private:
    std::shared_ptr<MemoryPeer> peer_;
};

// Bytes of a text, for building inputs.
[[nodiscard]] std::vector<std::uint8_t> bytes_of(std::string_view text);

}  // namespace test_support
