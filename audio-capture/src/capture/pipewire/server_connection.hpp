#pragma once
// One connection to the PipeWire sound server: its own event-loop thread,
// context and core. Everything else of a capture hangs off the core and is
// used only under the loop's lock (or on the loop's thread, which holds it).

#include <pipewire/pipewire.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "capture/capture_platform.hpp"
#include "capture/pipewire/wakeup_event.hpp"

namespace audio::capture::pipewire {

// The loop's lock for one scope. The lock is recursive.
class LoopLock {
public:
    explicit LoopLock(pw_thread_loop* loop) : loop_(loop) { pw_thread_loop_lock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;
    ~LoopLock() { pw_thread_loop_unlock(loop_); }

private:
    pw_thread_loop* loop_;
};

// How long one start-up step may wait for the server.
inline constexpr std::chrono::seconds SERVER_ANSWER_TIMEOUT{5};

class ServerConnection {
public:
    // Connects and waits until the server has answered once. The error names
    // the cause (no server, refused, no permission, no answer).
    [[nodiscard]] static PlatformResult<std::unique_ptr<ServerConnection>> open();

    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;
    // Disconnects, then stops the loop's thread. Whatever hangs off the core
    // must be gone by then.
    ~ServerConnection();

    [[nodiscard]] pw_thread_loop* loop() const { return loop_.get(); }
    [[nodiscard]] pw_core* core() const { return core_; }

    // Waits (lock held) until signal() or the deadline; false at the deadline.
    [[nodiscard]] bool wait_until(std::chrono::steady_clock::time_point deadline);
    // Wakes wait_until; on the loop's thread.
    void signal() { pw_thread_loop_signal(loop_.get(), false); }

    // A round trip to the server: every reply to earlier requests has been
    // handled when it returns true (lock held).
    [[nodiscard]] PlatformResult<void> round_trip();

    // The server closed the connection or reported a fatal error; any thread.
    [[nodiscard]] bool lost() const { return lost_.load(std::memory_order_acquire); }
    // The event signalled when the connection is lost (lock held).
    void wake_on_loss(WakeupEvent* event) { loss_event_ = event; }

private:
    struct LoopDeleter {
        void operator()(pw_thread_loop* loop) const { pw_thread_loop_destroy(loop); }
    };
    struct ContextDeleter {
        void operator()(pw_context* context) const { pw_context_destroy(context); }
    };

    ServerConnection() = default;
    [[nodiscard]] PlatformResult<void> connect();
    static void on_done(void* data, std::uint32_t id, int seq);
    static void on_error(void* data, std::uint32_t id, int seq, int res, const char* message);

    // In acquisition order; the destructor releases them in reverse.
    std::unique_ptr<pw_thread_loop, LoopDeleter> loop_;
    std::unique_ptr<pw_context, ContextDeleter> context_;
    pw_core* core_ = nullptr;  // disconnected by the destructor, under the lock
    spa_hook core_listener_{};

    // The rest belongs to the loop's lock.
    int pending_sync_ = -1;
    bool synced_ = false;
    std::string server_error_;  // the first error about the core: the cause when the server then closes
    WakeupEvent* loss_event_ = nullptr;
    std::atomic<bool> lost_{false};  // written on the loop's thread
};

}  // namespace audio::capture::pipewire
