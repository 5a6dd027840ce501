#include "capture/pipewire/server_connection.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>

#include "capture/capture_texts.hpp"
#include "os/error.hpp"
#include "os/fs.hpp"

namespace audio::capture::pipewire {
namespace {

// The core's methods are macros built on GNU statement expressions, which
// clang reports where they are expanded.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wgnu-statement-expression-from-macro-expansion"
#endif
int add_core_listener(pw_core* core, spa_hook* hook, const pw_core_events* events, void* data) {
    return pw_core_add_listener(core, hook, events, data);
}
int sync_core(pw_core* core) { return pw_core_sync(core, PW_ID_CORE, 0); }
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

std::string with_detail(std::string_view cause, std::string_view detail) {
    std::string text(cause);
    if (!detail.empty()) {
        text += ": ";
        text += detail;
    }
    return text;
}

// The socket the library tries, by its own rules: PIPEWIRE_REMOTE names it
// (an absolute path as it is), in PIPEWIRE_RUNTIME_DIR, XDG_RUNTIME_DIR or
// USERPROFILE, the first that is set.
std::optional<std::string> server_socket_path() {
    const std::string name = os::get_env("PIPEWIRE_REMOTE").value_or("pipewire-0");
    if (name.starts_with('/')) {
        return name;
    }
    for (const char* variable : {"PIPEWIRE_RUNTIME_DIR", "XDG_RUNTIME_DIR", "USERPROFILE"}) {
        if (auto dir = os::get_env(variable); dir && !dir->empty()) {
            return *dir + "/" + name;
        }
    }
    return std::nullopt;
}

// The library reports every failed connection alike ("Host is down"), so the
// socket is tried once more here to name the cause.
std::string connect_failure_text(int library_error) {
    const auto path = server_socket_path();
    if (!path) {
        return with_detail(SERVER_ABSENT, SERVER_NO_RUNTIME_DIR);
    }
    int error = library_error;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path->size() < sizeof address.sun_path) {
        std::memcpy(address.sun_path, path->c_str(), path->size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                error = errno;
            }
            ::close(fd);
        }
    }
    std::string_view cause = SERVER_CONNECT_FAILED;
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            cause = SERVER_ABSENT;
            break;
        case ECONNREFUSED:
            cause = SERVER_REFUSED;
            break;
        case EACCES:
        case EPERM:
            cause = SERVER_FORBIDDEN;
            break;
        default:
            break;
    }
    return std::string(cause) + " (" + *path + "): " + os::SysError{error}.text();
}

}  // namespace

PlatformResult<std::unique_ptr<ServerConnection>> ServerConnection::open() {
    static std::once_flag initialized;
    std::call_once(initialized, [] { pw_init(nullptr, nullptr); });

    std::unique_ptr<ServerConnection> connection(new ServerConnection());
    if (auto connected = connection->connect(); !connected) {
        return std::unexpected(std::move(connected.error()));
    }
    return connection;
}

PlatformResult<void> ServerConnection::connect() {
    loop_.reset(pw_thread_loop_new("pw-captura", nullptr));
    if (!loop_) {
        return std::unexpected(std::string(PIPEWIRE_THREAD_PREFIX) + os::last_error().text());
    }
    // The real-time client configuration gives the audio thread its priority.
    context_.reset(pw_context_new(pw_thread_loop_get_loop(loop_.get()),
                                  pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0));
    if (!context_) {
        return std::unexpected(std::string(PIPEWIRE_CONTEXT_PREFIX) + os::last_error().text());
    }
    if (const int res = pw_thread_loop_start(loop_.get()); res < 0) {
        return std::unexpected(std::string(PIPEWIRE_THREAD_PREFIX) + os::SysError{-res}.text());
    }

    const LoopLock lock(loop_.get());
    core_ = pw_context_connect(context_.get(), nullptr, 0);
    if (core_ == nullptr) {
        return std::unexpected(connect_failure_text(errno));
    }
    static const pw_core_events events = [] {
        pw_core_events table{};
        table.version = PW_VERSION_CORE_EVENTS;
        table.done = &ServerConnection::on_done;
        table.error = &ServerConnection::on_error;
        return table;
    }();
    (void)add_core_listener(core_, &core_listener_, &events, this);
    return round_trip();
}

ServerConnection::~ServerConnection() {
    if (loop_) {
        if (core_ != nullptr) {
            const LoopLock lock(loop_.get());
            spa_hook_remove(&core_listener_);
            pw_core_disconnect(core_);
        }
        pw_thread_loop_stop(loop_.get());
    }
    context_.reset();
    loop_.reset();
}

bool ServerConnection::wait_until(std::chrono::steady_clock::time_point deadline) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        return false;
    }
    timespec until{};
    (void)pw_thread_loop_get_time(loop_.get(), &until,
                                  std::chrono::duration_cast<std::chrono::nanoseconds>(left).count());
    return pw_thread_loop_timed_wait_full(loop_.get(), &until) == 0;
}

PlatformResult<void> ServerConnection::round_trip() {
    synced_ = false;
    pending_sync_ = sync_core(core_);
    const auto deadline = std::chrono::steady_clock::now() + SERVER_ANSWER_TIMEOUT;
    while (!synced_ && !lost()) {
        if (!wait_until(deadline)) {
            return std::unexpected(std::string(SERVER_SILENT));
        }
    }
    if (lost()) {
        return std::unexpected(with_detail(SERVER_CLOSED, server_error_));
    }
    return {};
}

void ServerConnection::on_done(void* data, std::uint32_t id, int seq) {
    auto& self = *static_cast<ServerConnection*>(data);
    if (id == PW_ID_CORE && seq == self.pending_sync_) {
        self.synced_ = true;
        self.signal();
    }
}

// The server reports errors about single requests on the core too (a link
// to a port that has just gone, the destroy of a link it had already
// removed); they cost that request only. A broken connection ends it all.
void ServerConnection::on_error(void* data, std::uint32_t id, int /*seq*/, int res, const char* message) {
    auto& self = *static_cast<ServerConnection*>(data);
    if (id != PW_ID_CORE || self.lost()) {
        return;
    }
    if (self.server_error_.empty() && message != nullptr) {
        self.server_error_ = message;  // the cause, when the server closes next
    }
    if (res != -EPIPE) {
        return;
    }
    self.lost_.store(true, std::memory_order_release);
    if (self.loss_event_ != nullptr) {
        self.loss_event_->signal();
    }
    self.signal();
}

}  // namespace audio::capture::pipewire
