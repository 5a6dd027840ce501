#pragma once
// A capture platform that plays a script: chosen packets (audio, silent,
// without data), chosen failures at any step and chosen timing, recording
// every call in order. Lets the capture logic run without an audio engine.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/capture_context.hpp"
#include "capture/capture_platform.hpp"

namespace test_support {

namespace capture = audio::capture;
namespace protocol = audio::protocol;

struct ScriptedPacket {
    std::vector<std::uint8_t> bytes;  // what the data pointer shows (may be garbage for silent packets)
    std::uint32_t frame_count = 0;
    std::uint32_t flags = 0;
    bool data_absent = false;  // GetBuffer hands out a null pointer
    std::optional<std::string> get_buffer_failure;
    std::optional<std::string> release_buffer_failure;

    // frame_count sample frames whose bytes count up from `first`.
    static ScriptedPacket audio(std::uint32_t frame_count, std::uint8_t first = 1);
    // Flagged silent; the data pointer shows non-zero bytes all the same.
    static ScriptedPacket silent(std::uint32_t frame_count);
    static ScriptedPacket without_data(std::uint32_t frame_count);
};

// What one wake-up of the capture loop finds.
struct ScriptedPass {
    std::vector<ScriptedPacket> packets;
    bool set_stop = false;  // the stop flag is raised during this pass's wait
    std::optional<std::string> next_packet_size_failure;  // instead of the final "0 frames"
};

struct CaptureScript {
    std::optional<std::string> com_failure;
    std::optional<std::string> event_failure;
    std::vector<std::optional<std::string>> activation_failures;  // by attempt; missing: success
    std::vector<std::optional<std::string>> initialize_failures;  // by client; missing: success
    std::optional<std::string> capture_client_failure;
    std::optional<std::string> start_failure;
    // After these the engine stays quiet: each wait lasts its full time-out
    // (or until wake()) and finds nothing.
    std::vector<ScriptedPass> passes;
};

class ScriptedCapture final : public capture::CapturePlatform {
public:
    explicit ScriptedCapture(CaptureScript script);

    // The stop flag a pass with set_stop raises.
    void set_stop_flag(std::shared_ptr<std::atomic<bool>> stop);

    // Every call so far, e.g. "Activate#1(1,4242)", "Initialize#1(0x00000000)",
    // "GetBuffer", "ReleaseBuffer(480)", "Release client#1", "CloseHandle".
    [[nodiscard]] std::vector<std::string> calls() const;
    [[nodiscard]] std::size_t count_calls(std::string_view name) const;

    // Waits until the loop has used up the scripted passes and sits in an
    // idle wait; false when that does not happen within `limit`.
    [[nodiscard]] bool wait_until_idle(std::chrono::milliseconds limit);
    // Ends the current idle wait at once.
    void wake();

    capture::PlatformResult<void> initialize_com() override;
    void uninitialize_com() override;
    capture::PlatformResult<std::unique_ptr<capture::BufferEvent>> create_buffer_event() override;
    capture::PlatformResult<std::unique_ptr<capture::AudioClient>> activate(
        CaptureMode mode, std::uint32_t target_pid) override;

private:
    friend class ScriptedEvent;
    friend class ScriptedClient;
    friend class ScriptedCaptureClient;

    void record(std::string call);
    void wait_for_pass(std::chrono::milliseconds timeout);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    CaptureScript script_;                   // guarded by mutex_
    std::size_t next_pass_ = 0;              // guarded by mutex_
    std::deque<ScriptedPacket> ready_;       // guarded by mutex_; the current pass's packets
    std::optional<std::string> pass_failure_;  // guarded by mutex_; for the pass's last GetNextPacketSize
    std::vector<std::string> calls_;         // guarded by mutex_
    bool idle_ = false;                      // guarded by mutex_; the loop waits with nothing scripted
    bool woken_ = false;                     // guarded by mutex_
    int activations_ = 0;                    // the capture thread's alone
    std::shared_ptr<std::atomic<bool>> stop_;
};

// The ends the session keeps, and the context that goes to the thread.
struct CaptureEnds {
    protocol::FrameReceiver frames;
    capture::StartReceiver start;
    std::shared_ptr<std::atomic<bool>> stop;
};

struct CaptureSetup {
    CaptureEnds ends;
    capture::CaptureContext context;
};

[[nodiscard]] CaptureSetup make_capture_setup(CaptureMode mode, std::uint32_t target_pid);

// Runs run_capture on a thread of its own. A thread that does not end within
// the limit would hang the suite, so the guard ends the process loudly.
class CaptureThread {
public:
    CaptureThread(capture::CaptureContext context, capture::CapturePlatform& platform);
    CaptureThread(const CaptureThread&) = delete;
    CaptureThread& operator=(const CaptureThread&) = delete;
    ~CaptureThread();

    void join(std::chrono::seconds limit = std::chrono::seconds(10));
    [[nodiscard]] bool ended() const { return ended_.load(); }

private:
    std::atomic<bool> ended_{false};
    std::mutex mutex_;
    std::condition_variable done_;
    std::thread thread_;
};

// Receives the start report: nullopt when the thread ended without one; a
// report that does not come within 10 s aborts the suite.
[[nodiscard]] std::optional<capture::StartReport> wait_start_report(capture::StartReceiver& start);

// A LogFunction that keeps the records for the test to read.
void record_log(std::string_view message);
[[nodiscard]] std::vector<std::string> logged_lines();
void clear_logged_lines();

}  // namespace test_support
