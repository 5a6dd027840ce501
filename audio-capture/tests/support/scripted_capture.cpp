#include "support/scripted_capture.hpp"

#include <cstdio>
#include <cstdlib>

#include "capture/capture_thread.hpp"
#include "os/text.hpp"

namespace test_support {

ScriptedPacket ScriptedPacket::audio(std::uint32_t frame_count, std::uint8_t first) {
    ScriptedPacket packet;
    packet.frame_count = frame_count;
    packet.bytes.resize(std::size_t{frame_count} * 4);
    for (std::size_t i = 0; i < packet.bytes.size(); ++i) {
        packet.bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return packet;
}

ScriptedPacket ScriptedPacket::silent(std::uint32_t frame_count) {
    ScriptedPacket packet = audio(frame_count, 0x5A);
    packet.flags = protocol::BUFFER_FLAG_SILENT;
    return packet;
}

ScriptedPacket ScriptedPacket::without_data(std::uint32_t frame_count) {
    ScriptedPacket packet;
    packet.frame_count = frame_count;
    packet.data_absent = true;
    return packet;
}

class ScriptedEvent final : public capture::BufferEvent {
public:
    explicit ScriptedEvent(ScriptedCapture& owner) : owner_(owner) {}
    ~ScriptedEvent() override { owner_.record("CloseHandle"); }
    void wait(std::chrono::milliseconds timeout) override { owner_.wait_for_pass(timeout); }
    void* native_handle() override { return this; }

private:
    ScriptedCapture& owner_;
};

class ScriptedCaptureClient final : public capture::CaptureClient {
public:
    explicit ScriptedCaptureClient(ScriptedCapture& owner) : owner_(owner) {}
    ~ScriptedCaptureClient() override { owner_.record("Release capture client"); }

    capture::PlatformResult<std::uint32_t> next_packet_size() override {
        owner_.record("GetNextPacketSize");
        std::lock_guard lock(owner_.mutex_);
        if (!owner_.ready_.empty()) {
            return owner_.ready_.front().frame_count;
        }
        if (auto failure = std::exchange(owner_.pass_failure_, std::nullopt)) {
            return std::unexpected(*failure);
        }
        return 0U;
    }

    capture::PlatformResult<protocol::CapturedPacket> get_buffer() override {
        owner_.record("GetBuffer");
        std::lock_guard lock(owner_.mutex_);
        held_ = std::move(owner_.ready_.front());
        owner_.ready_.pop_front();
        if (held_.get_buffer_failure) {
            return std::unexpected(*held_.get_buffer_failure);
        }
        return protocol::CapturedPacket{
            .data = held_.data_absent ? nullptr : held_.bytes.data(),
            .frame_count = held_.frame_count,
            .flags = held_.flags,
        };
    }

    capture::PlatformResult<void> release_buffer(std::uint32_t frame_count) override {
        owner_.record("ReleaseBuffer(" + std::to_string(frame_count) + ")");
        if (held_.release_buffer_failure) {
            return std::unexpected(*held_.release_buffer_failure);
        }
        held_ = {};  // the engine may reuse the memory now
        return {};
    }

private:
    ScriptedCapture& owner_;
    ScriptedPacket held_;  // the packet between GetBuffer and ReleaseBuffer
};

class ScriptedClient final : public capture::AudioClient {
public:
    ScriptedClient(ScriptedCapture& owner, int number) : owner_(owner), number_(number) {}
    ~ScriptedClient() override { owner_.record("Release client" + tag()); }

    capture::PlatformResult<void> initialize(capture::BufferEvent& event,
                                             std::uint32_t extra_flags) override {
        owner_.record("Initialize" + tag() + "(" + os::hex_text(extra_flags, 8) + ")");
        if (event.native_handle() == nullptr) {
            return std::unexpected(std::string("no event"));
        }
        return scripted(owner_.script_.initialize_failures);
    }

    capture::PlatformResult<std::unique_ptr<capture::CaptureClient>> capture_client() override {
        owner_.record("GetService" + tag());
        if (owner_.script_.capture_client_failure) {
            return std::unexpected(*owner_.script_.capture_client_failure);
        }
        return std::make_unique<ScriptedCaptureClient>(owner_);
    }

    capture::PlatformResult<void> start() override {
        owner_.record("Start" + tag());
        if (owner_.script_.start_failure) {
            return std::unexpected(*owner_.script_.start_failure);
        }
        return {};
    }

    void stop() override { owner_.record("Stop" + tag()); }

private:
    std::string tag() const { return "#" + std::to_string(number_); }

    capture::PlatformResult<void> scripted(const std::vector<std::optional<std::string>>& failures) {
        const auto index = static_cast<std::size_t>(number_ - 1);
        if (index < failures.size() && failures[index]) {
            return std::unexpected(*failures[index]);
        }
        return {};
    }

    ScriptedCapture& owner_;
    int number_;
};

ScriptedCapture::ScriptedCapture(CaptureScript script) : script_(std::move(script)) {}

void ScriptedCapture::set_stop_flag(std::shared_ptr<std::atomic<bool>> stop) { stop_ = std::move(stop); }

void ScriptedCapture::record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

std::vector<std::string> ScriptedCapture::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::size_t ScriptedCapture::count_calls(std::string_view name) const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& call : calls_) {
        count += call == name ? 1 : 0;
    }
    return count;
}

bool ScriptedCapture::wait_until_idle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return idle_; });
}

void ScriptedCapture::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

void ScriptedCapture::wait_for_pass(std::chrono::milliseconds timeout) {
    record("Wait");
    std::unique_lock lock(mutex_);
    if (next_pass_ < script_.passes.size()) {
        ScriptedPass& pass = script_.passes[next_pass_++];
        if (pass.set_stop && stop_) {
            stop_->store(true);
        }
        ready_.assign(pass.packets.begin(), pass.packets.end());
        pass_failure_ = pass.next_packet_size_failure;
        return;
    }
    // Nothing scripted: an engine with nothing to say times out.
    idle_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, timeout, [this] { return woken_; });
    woken_ = false;
}

capture::PlatformResult<void> ScriptedCapture::initialize_com() {
    record("CoInitializeEx");
    if (script_.com_failure) {
        return std::unexpected(*script_.com_failure);
    }
    return {};
}

void ScriptedCapture::uninitialize_com() { record("CoUninitialize"); }

capture::PlatformResult<std::unique_ptr<capture::BufferEvent>> ScriptedCapture::create_buffer_event() {
    record("CreateEventW");
    if (script_.event_failure) {
        return std::unexpected(*script_.event_failure);
    }
    return std::make_unique<ScriptedEvent>(*this);
}

capture::PlatformResult<std::unique_ptr<capture::AudioClient>> ScriptedCapture::activate(
    CaptureMode mode, std::uint32_t target_pid) {
    const int number = ++activations_;
    record("Activate#" + std::to_string(number) + "(" + std::to_string(static_cast<unsigned>(mode)) +
           "," + std::to_string(target_pid) + ")");
    const auto index = static_cast<std::size_t>(number - 1);
    if (index < script_.activation_failures.size() && script_.activation_failures[index]) {
        return std::unexpected(*script_.activation_failures[index]);
    }
    return std::make_unique<ScriptedClient>(*this, number);
}

CaptureSetup make_capture_setup(CaptureMode mode, std::uint32_t target_pid) {
    auto [frame_sender, frame_receiver] = protocol::make_frame_channel();
    auto [start_sender, start_receiver] = capture::make_start_channel();
    auto stop = std::make_shared<std::atomic<bool>>(false);
    return CaptureSetup{
        .ends = CaptureEnds{std::move(frame_receiver), std::move(start_receiver), stop},
        .context = capture::CaptureContext{
            .frames = std::move(frame_sender),
            .start = std::move(start_sender),
            .mode = mode,
            .target_pid = target_pid,
            .stop = stop,
            .log = &record_log,
        },
    };
}

CaptureThread::CaptureThread(capture::CaptureContext context, capture::CapturePlatform& platform)
    : thread_([this, ctx = std::move(context), &platform]() mutable {
          capture::run_capture(std::move(ctx), platform);
          {
              std::lock_guard lock(mutex_);
              ended_ = true;
          }
          done_.notify_all();
      }) {}

CaptureThread::~CaptureThread() { join(); }

void CaptureThread::join(std::chrono::seconds limit) {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, limit, [this] { return ended_.load(); })) {
            std::fprintf(stderr, "the capture thread did not end within %lld s\n",
                         static_cast<long long>(limit.count()));
            std::abort();
        }
    }
    thread_.join();
}

std::optional<capture::StartReport> wait_start_report(capture::StartReceiver& start) {
    auto report = start.recv_until(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    if (report) {
        return std::move(*report);
    }
    if (report.error() == audio::RecvError::Disconnected) {
        return std::nullopt;
    }
    std::fprintf(stderr, "no start report within 10 s\n");
    std::abort();
}

namespace {
std::mutex g_log_mutex;
std::vector<std::string> g_log;  // guarded by g_log_mutex
}  // namespace

void record_log(std::string_view message) {
    std::lock_guard lock(g_log_mutex);
    g_log.emplace_back(message);
}

std::vector<std::string> logged_lines() {
    std::lock_guard lock(g_log_mutex);
    return g_log;
}

void clear_logged_lines() {
    std::lock_guard lock(g_log_mutex);
    g_log.clear();
}

}  // namespace test_support
