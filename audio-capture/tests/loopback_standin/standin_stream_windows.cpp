#include "standin_stream.hpp"

#include <mutex>
#include <string>

namespace standin {
namespace {

constexpr std::uint64_t SAMPLE_RATE = 48000;
// Two seconds of sound: a caller slower than that loses the oldest packets,
// and the next one it gets is flagged as a discontinuity.
constexpr std::uint64_t QUEUE_CAPACITY_FRAMES = 2 * SAMPLE_RATE;
constexpr std::uint8_t SILENT_FILL = 0x7F;  // what a silent packet's buffer holds: anything but zeros

LONGLONG counter_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

Stream::Stream(Target target, const Config& config)
    : target_(target), config_(config), wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    QueryPerformanceFrequency(&frequency_);
}

Stream::~Stream() {
    stop();
    if (wake_ != nullptr) CloseHandle(wake_);
}

bool Stream::start(HANDLE event) {
    {
        std::lock_guard guard(lock_);
        if (running_) return true;
        running_ = true;
        run_started_ = counter_now();
        event_ = event;
    }
    ResetEvent(wake_);
    thread_ = CreateThread(nullptr, 0, &Stream::signal_thread, this, 0, nullptr);
    if (thread_ == nullptr || wake_ == nullptr) {
        std::lock_guard guard(lock_);
        running_ = false;
        return false;
    }
    return true;
}

void Stream::stop() {
    if (thread_ != nullptr) {
        SetEvent(wake_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    std::lock_guard guard(lock_);
    if (running_) {
        frames_before_run_ = elapsed_frames();
        running_ = false;
    }
}

std::uint32_t Stream::queued_frames() {
    std::lock_guard guard(lock_);
    produce();
    return static_cast<std::uint32_t>(queued_frames_);
}

DWORD WINAPI Stream::signal_thread(void* self) {
    static_cast<Stream*>(self)->signal_loop();
    return 0;
}

void Stream::signal_loop() {
    name_this_thread(L"standin-events");
    const LONGLONG period = frequency_.QuadPart * config_.period_ms / 1000;
    LONGLONG next = counter_now() + period;
    for (std::uint64_t tick = 1;; ++tick) {
        // Wait for the deadline in whole milliseconds, rounded up: a timed
        // wait may come back early, never late enough to matter here.
        for (LONGLONG now = counter_now(); now < next; now = counter_now()) {
            const auto wait = static_cast<DWORD>(((next - now) * 1000 + frequency_.QuadPart - 1) / frequency_.QuadPart);
            if (WaitForSingleObject(wake_, wait) == WAIT_OBJECT_0) return;
        }
        if (config_.late_events && tick % 10 == 0 && WaitForSingleObject(wake_, LATE_EVENT_MS) == WAIT_OBJECT_0) {
            return;
        }
        {
            std::lock_guard guard(lock_);
            produce();
        }
        if (!SetEvent(event_)) {
            violation("SetEvent on the buffer event failed (error " + std::to_string(GetLastError()) +
                      "): it was closed while the stream still ran");
            return;
        }
        next += period;
        if (const LONGLONG now = counter_now(); next <= now) {
            next = now + period;  // after a late event, the period starts again
        }
    }
}

std::uint64_t Stream::elapsed_frames() const {
    if (!running_) return frames_before_run_;
    const auto ticks = static_cast<std::uint64_t>(counter_now() - run_started_);
    return frames_before_run_ + ticks * SAMPLE_RATE / static_cast<std::uint64_t>(frequency_.QuadPart);
}

void Stream::produce() {
    const std::uint64_t due = elapsed_frames();
    for (;;) {
        const std::uint32_t frames = packet_frames(config_.packets, next_packet_);
        if (due - produced_frames_ < frames) break;
        queue_.push_back(Packet{next_packet_, produced_frames_, frames, false});
        produced_frames_ += frames;
        queued_frames_ += frames;
        ++next_packet_;
    }
    // A packet the caller holds stays; the oldest one after it goes.
    const std::size_t first_droppable = held_ ? 1 : 0;
    while (queued_frames_ > QUEUE_CAPACITY_FRAMES && queue_.size() > first_droppable + 1) {
        queued_frames_ -= queue_[first_droppable].frames;
        queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(first_droppable));
        queue_[first_droppable].discontinuity = true;
        if (!overflowed_) {
            overflowed_ = true;
            journal("overflow: packets waited over 2 s and the oldest were dropped");
        }
    }
}

bool Stream::invalidate_after(const std::optional<std::uint64_t>& limit, const char* call) {
    if (!limit || delivered_packets_ < *limit) return false;
    invalidated_ = true;
    journal(std::string("device invalidated in ") + call + " after " + std::to_string(delivered_packets_) +
            " packets");
    return true;
}

HRESULT Stream::next_packet_size(UINT32* frames) {
    if (frames == nullptr) {
        violation("GetNextPacketSize without an out-pointer");
        return E_POINTER;
    }
    *frames = 0;
    std::lock_guard guard(lock_);
    if (invalidated_ || invalidate_after(config_.invalidated_in_next_packet_size, "GetNextPacketSize")) {
        return AUDCLNT_E_DEVICE_INVALIDATED;
    }
    produce();
    if (!queue_.empty()) *frames = queue_.front().frames;
    return S_OK;
}

HRESULT Stream::get_buffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position, UINT64* counter) {
    if (data == nullptr || frames == nullptr || flags == nullptr) {
        violation("GetBuffer without its out-pointers");
        return E_POINTER;
    }
    *data = nullptr;
    *frames = 0;
    *flags = 0;
    std::lock_guard guard(lock_);
    if (invalidated_) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (held_) {
        violation("GetBuffer while the previous packet was not released");
        return AUDCLNT_E_OUT_OF_ORDER;
    }
    if (invalidate_after(config_.invalidated_in_get_buffer, "GetBuffer")) return AUDCLNT_E_DEVICE_INVALIDATED;
    produce();
    if (queue_.empty()) return AUDCLNT_S_BUFFER_EMPTY;

    const Packet& packet = queue_.front();
    buffer_.assign(std::size_t{packet.frames} * BYTES_PER_SAMPLE_FRAME, SILENT_FILL);
    if (!packet_zeroed(config_.packets, packet.number)) {
        fill_signal(target_, packet.first_sample, buffer_);
        *data = buffer_.data();
    } else if (!config_.null_buffer) {
        *flags |= AUDCLNT_BUFFERFLAGS_SILENT;
        *data = buffer_.data();
    }
    if (packet.discontinuity) *flags |= AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY;
    *frames = packet.frames;
    if (position != nullptr) *position = packet.first_sample;
    if (counter != nullptr) {
        const auto now = static_cast<UINT64>(counter_now());
        const auto hz = static_cast<UINT64>(frequency_.QuadPart);
        *counter = now / hz * 10000000ull + now % hz * 10000000ull / hz;  // in 100 ns units
    }
    held_ = true;
    return S_OK;
}

HRESULT Stream::release_buffer(UINT32 frames) {
    std::lock_guard guard(lock_);
    if (invalidated_) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!held_) {
        violation("ReleaseBuffer without a packet from GetBuffer");
        return AUDCLNT_E_OUT_OF_ORDER;
    }
    const Packet packet = queue_.front();
    if (frames != 0 && frames != packet.frames) {
        violation("ReleaseBuffer(" + std::to_string(frames) + ") for a packet of " + std::to_string(packet.frames) +
                  " frames");
        return AUDCLNT_E_INVALID_SIZE;
    }
    held_ = false;
    if (frames == 0) return S_OK;  // not read: the same packet comes again
    queue_.pop_front();
    queued_frames_ -= frames;
    ++delivered_packets_;
    packet_delivered(frames);
    return S_OK;
}

}  // namespace standin
