#pragma once
// The engine behind one started client: a clock that makes 48 sample frames
// per millisecond into packets of the planned sizes, a thread that signals
// the caller's event once per period, and the packet queue the capture client
// reads. One per IAudioClient.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "standin_com.hpp"
#include "standin_config.hpp"

namespace standin {

class Stream {
public:
    Stream(Target target, const Config& config);
    ~Stream();  // stops the signalling thread
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Starts the clock and the events (to `event`, which the caller owns).
    // False when the thread cannot be made.
    [[nodiscard]] bool start(HANDLE event);
    // Stops both; returns when the signalling thread has ended.
    void stop();
    // Sample frames waiting to be read.
    [[nodiscard]] std::uint32_t queued_frames();

    // IAudioCaptureClient.
    HRESULT next_packet_size(UINT32* frames);
    HRESULT get_buffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position, UINT64* counter);
    HRESULT release_buffer(UINT32 frames);

private:
    struct Packet {
        std::uint64_t number = 0;
        std::uint64_t first_sample = 0;
        std::uint32_t frames = 0;
        bool discontinuity = false;
    };

    static DWORD WINAPI signal_thread(void* self);
    void signal_loop();
    [[nodiscard]] std::uint64_t elapsed_frames() const;  // with lock_ held
    void produce();                                       // with lock_ held
    [[nodiscard]] bool invalidate_after(const std::optional<std::uint64_t>& limit, const char* call);

    const Target target_;
    const Config& config_;
    LARGE_INTEGER frequency_{};
    HANDLE wake_ = nullptr;    // set to end the signalling thread; owned
    HANDLE thread_ = nullptr;  // the signalling thread while started; owned
    HANDLE event_ = nullptr;   // the caller's buffer event; borrowed

    Lock lock_;  // guards everything below; the signalling thread takes it to produce
    bool running_ = false;
    LONGLONG run_started_ = 0;            // counter value when the clock last started
    std::uint64_t frames_before_run_ = 0; // frames the clock made in earlier runs
    std::uint64_t produced_frames_ = 0;   // made into packets so far
    std::uint64_t next_packet_ = 0;
    std::deque<Packet> queue_;
    std::uint64_t queued_frames_ = 0;
    bool overflowed_ = false;
    bool held_ = false;                   // GetBuffer gave out the front packet
    std::vector<std::uint8_t> buffer_;    // its bytes
    std::uint64_t delivered_packets_ = 0;
    bool invalidated_ = false;
};

}  // namespace standin
