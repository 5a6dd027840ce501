#include "support/memory_stream.hpp"

#include <algorithm>
#include <thread>

namespace test_support {

namespace {

constexpr const char* CLOSED_TEXT = "memory stream closed";

// Waits the peer's delay; false when the deadline ends the wait first.
bool wait_delay(std::chrono::milliseconds delay, os::Deadline deadline) {
    if (delay.count() <= 0) {
        return true;
    }
    const auto due = std::chrono::steady_clock::now() + delay;
    if (deadline && *deadline < due) {
        std::this_thread::sleep_until(*deadline);
        return false;
    }
    std::this_thread::sleep_until(due);
    return true;
}

}  // namespace

void MemoryPeer::push_input(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) {
        script_.push_back(Piece{Event::Data, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), 0});
    }
}

void MemoryPeer::push_input(std::string_view text) {
    push_input(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void MemoryPeer::push_timeout() {
    script_.push_back(Piece{Event::Timeout, {}, 0});
}

void MemoryPeer::push_eof() {
    script_.push_back(Piece{Event::Eof, {}, 0});
}

std::vector<std::uint8_t> MemoryPeer::take_written() {
    std::vector<std::uint8_t> out;
    out.swap(written_);
    return out;
}

os::Result<std::size_t> MemoryStream::read_before(std::span<std::uint8_t> buffer, os::Deadline deadline) {
    MemoryPeer& p = *peer_;
    ++p.reads_;
    if (p.closed_) {
        return std::unexpected(os::SysError{0, CLOSED_TEXT});
    }
    if (!wait_delay(p.delay_, deadline)) {
        return std::unexpected(os::timeout_error());
    }
    if (p.script_.empty()) {
        return std::unexpected(os::timeout_error());
    }
    MemoryPeer::Piece& piece = p.script_.front();
    switch (piece.event) {
    case MemoryPeer::Event::Eof:
        return 0;  // stays scripted: the end is permanent
    case MemoryPeer::Event::Timeout:
        p.script_.pop_front();
        return std::unexpected(os::timeout_error());
    case MemoryPeer::Event::Data:
        break;
    }
    const std::size_t count = std::min(buffer.size(), piece.bytes.size() - piece.offset);
    std::copy_n(piece.bytes.begin() + static_cast<std::ptrdiff_t>(piece.offset), count, buffer.begin());
    piece.offset += count;
    p.delivered_ += count;
    if (piece.offset == piece.bytes.size()) {
        p.script_.pop_front();
    }
    return count;
}

os::Result<std::size_t> MemoryStream::write_before(std::span<const std::uint8_t> bytes, os::Deadline deadline) {
    MemoryPeer& p = *peer_;
    if (p.closed_) {
        return std::unexpected(os::SysError{0, CLOSED_TEXT});
    }
    if (!wait_delay(p.delay_, deadline)) {
        return std::unexpected(os::send_timeout_error());
    }
    std::size_t count = std::min(bytes.size(), p.write_piece_);
    if (p.write_budget_) {
        count = std::min(count, *p.write_budget_);
        if (count == 0) {
            return std::unexpected(os::send_timeout_error());
        }
        *p.write_budget_ -= count;
    }
    p.written_.insert(p.written_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
}

os::Result<void> MemoryStream::set_read_timeout(std::chrono::milliseconds timeout) {
    peer_->read_timeout_ = timeout;
    return {};
}

os::Result<void> MemoryStream::set_write_timeout(std::chrono::milliseconds timeout) {
    peer_->write_timeout_ = timeout;
    return {};
}

void MemoryStream::close() {
    peer_->closed_ = true;
}

std::vector<std::uint8_t> bytes_of(std::string_view text) {
    return {text.begin(), text.end()};
}

}  // namespace test_support
