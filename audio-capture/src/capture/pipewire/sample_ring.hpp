#pragma once
// The hand-over between PipeWire's audio thread and the capture thread: a
// lock-free ring of bytes with one writer and one reader. The writer never
// waits and never allocates; when the reader falls behind, a whole buffer
// that does not fit is dropped (the newest audio goes, as on the frame
// channel). The reader takes the bytes in contiguous runs, like packets.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace audio::capture::pipewire {

class SampleRing {
public:
    // `capacity` must be a power of two.
    explicit SampleRing(std::size_t capacity)
        : capacity_(capacity), storage_(std::make_unique<std::uint8_t[]>(capacity)) {}

    // Writer side. `bytes` null writes that many zero bytes. False when the
    // run did not fit and was dropped whole.
    bool write(const std::uint8_t* bytes, std::size_t count) {
        const std::size_t tail = write_at_.load(std::memory_order_relaxed);
        const std::size_t head = read_at_.load(std::memory_order_acquire);
        if (count > capacity_ - (tail - head)) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        const std::size_t start = tail & (capacity_ - 1);
        const std::size_t first = std::min(count, capacity_ - start);
        copy_in(start, bytes, first);
        copy_in(0, bytes == nullptr ? nullptr : bytes + first, count - first);
        write_at_.store(tail + count, std::memory_order_release);
        return true;
    }

    // Reader side: the bytes that can be read without wrapping, possibly none.
    // They stay valid until consume().
    [[nodiscard]] std::span<const std::uint8_t> readable() const {
        const std::size_t head = read_at_.load(std::memory_order_relaxed);
        const std::size_t tail = write_at_.load(std::memory_order_acquire);
        const std::size_t start = head & (capacity_ - 1);
        return {storage_.get() + start, std::min(tail - head, capacity_ - start)};
    }

    void consume(std::size_t count) { read_at_.fetch_add(count, std::memory_order_release); }

    // Runs dropped because the ring was full; any thread.
    [[nodiscard]] std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    void copy_in(std::size_t at, const std::uint8_t* bytes, std::size_t count) {
        if (count == 0) {
            return;
        }
        if (bytes == nullptr) {
            std::memset(storage_.get() + at, 0, count);
        } else {
            std::memcpy(storage_.get() + at, bytes, count);
        }
    }

    const std::size_t capacity_;
    std::unique_ptr<std::uint8_t[]> storage_;
    // Running byte counts; only their difference and low bits matter.
    std::atomic<std::size_t> write_at_{0};  // written by the writer only
    std::atomic<std::size_t> read_at_{0};   // written by the reader only
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace audio::capture::pipewire
