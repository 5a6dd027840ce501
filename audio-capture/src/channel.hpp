#pragma once
// A one-producer, one-consumer channel between two threads, bounded or
// unbounded. Sending never blocks: a bounded channel that is full refuses the
// new item. Each end is move-only, and destroying an end disconnects it; a
// moved-from end must not be used.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <utility>

namespace audio {

enum class SendError {
    Full,          // a bounded channel already holds its capacity; the item was dropped
    Disconnected,  // the receiving end is gone; the item was dropped
};

enum class RecvError {
    Timeout,       // nothing arrived before the deadline
    Disconnected,  // the channel is empty and the sending end is gone
};

namespace detail {

template <class T>
struct ChannelState {
    explicit ChannelState(std::size_t limit) : capacity(limit) {}

    const std::size_t capacity;  // 0: unbounded
    std::mutex mutex;
    std::condition_variable changed;  // an item arrived or the sender went
    std::deque<T> items;              // guarded by mutex
    bool sender_alive = true;         // guarded by mutex; written by the sender's end
    bool receiver_alive = true;       // guarded by mutex; written by the receiver's end
};

}  // namespace detail

template <class T>
class Sender;
template <class T>
class Receiver;

namespace detail {
template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel(std::size_t capacity);
}  // namespace detail

template <class T>
class Sender {
public:
    Sender(Sender&& other) noexcept = default;
    Sender& operator=(Sender&& other) noexcept {
        if (this != &other) {
            disconnect();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;
    ~Sender() { disconnect(); }

    // Queues the item without ever waiting. On error the item is dropped.
    [[nodiscard]] std::expected<void, SendError> try_send(T item) {
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->receiver_alive) {
                return std::unexpected(SendError::Disconnected);
            }
            if (state_->capacity != 0 && state_->items.size() >= state_->capacity) {
                return std::unexpected(SendError::Full);
            }
            state_->items.push_back(std::move(item));
        }
        state_->changed.notify_one();
        return {};
    }

    [[nodiscard]] bool receiver_gone() const {
        std::lock_guard lock(state_->mutex);
        return !state_->receiver_alive;
    }

private:
    friend std::pair<Sender<T>, Receiver<T>> detail::make_channel<T>(std::size_t capacity);

    explicit Sender(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

    void disconnect() noexcept {
        if (!state_) {
            return;  // moved from
        }
        {
            std::lock_guard lock(state_->mutex);
            state_->sender_alive = false;
        }
        state_->changed.notify_all();
        state_.reset();
    }

    std::shared_ptr<detail::ChannelState<T>> state_;
};

template <class T>
class Receiver {
public:
    using Clock = std::chrono::steady_clock;

    Receiver(Receiver&& other) noexcept = default;
    Receiver& operator=(Receiver&& other) noexcept {
        if (this != &other) {
            disconnect();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { disconnect(); }

    // Takes the oldest item if one is waiting. Disconnected only once the
    // queue is empty, so nothing the sender queued before leaving is lost.
    [[nodiscard]] std::expected<T, RecvError> try_recv() {
        std::lock_guard lock(state_->mutex);
        return take_locked();
    }

    // Waits until an item arrives, the sender leaves, or the deadline passes.
    [[nodiscard]] std::expected<T, RecvError> recv_until(Clock::time_point deadline) {
        std::unique_lock lock(state_->mutex);
        state_->changed.wait_until(lock, deadline, [this] {
            return !state_->items.empty() || !state_->sender_alive;
        });
        return take_locked();
    }

    [[nodiscard]] std::expected<T, RecvError> recv_timeout(Clock::duration timeout) {
        return recv_until(Clock::now() + timeout);
    }

private:
    friend std::pair<Sender<T>, Receiver<T>> detail::make_channel<T>(std::size_t capacity);

    explicit Receiver(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

    std::expected<T, RecvError> take_locked() {
        if (!state_->items.empty()) {
            T item = std::move(state_->items.front());
            state_->items.pop_front();
            return item;
        }
        return std::unexpected(state_->sender_alive ? RecvError::Timeout : RecvError::Disconnected);
    }

    void disconnect() noexcept {
        if (!state_) {
            return;  // moved from
        }
        std::deque<T> dropped;
        {
            std::lock_guard lock(state_->mutex);
            state_->receiver_alive = false;
            dropped.swap(state_->items);  // freed outside the lock
        }
        state_.reset();
    }

    std::shared_ptr<detail::ChannelState<T>> state_;
};

namespace detail {

// capacity 0 makes an unbounded channel.
template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel(std::size_t capacity) {
    auto state = std::make_shared<ChannelState<T>>(capacity);
    return {Sender<T>(state), Receiver<T>(state)};
}

}  // namespace detail

// A channel that holds at most `capacity` items; 0 counts as 1.
template <class T>
[[nodiscard]] std::pair<Sender<T>, Receiver<T>> make_bounded_channel(std::size_t capacity) {
    return detail::make_channel<T>(capacity == 0 ? 1 : capacity);
}

template <class T>
[[nodiscard]] std::pair<Sender<T>, Receiver<T>> make_unbounded_channel() {
    return detail::make_channel<T>(0);
}

}  // namespace audio
