#include "os/socket.hpp"

#include <algorithm>
#include <climits>
#include <utility>

#include "socket_primitives.hpp"

// The socket logic both platforms share, over the calls of socket_primitives.hpp.
namespace os {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using sockets::Direction;

// The longest time-out kept; longer ones are cut to it (about 24 days).
constexpr milliseconds LONGEST_TIMEOUT{INT_MAX};

// Waits until the socket is ready in the direction or the deadline (none:
// without limit) has passed. A deadline that has passed still gets one look.
Result<bool> wait_until(sockets::Native socket, Direction direction, Deadline deadline) {
    for (;;) {
        int wait_ms = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<milliseconds>(*deadline - Clock::now());
            wait_ms = static_cast<int>(std::clamp<milliseconds::rep>(left.count(), 0, INT_MAX));
        }
        auto ready = sockets::poll_ready(socket, direction, wait_ms);
        if (!ready || *ready) {
            return ready;
        }
        // The wait may end a little early; the deadline decides.
        if (deadline && Clock::now() >= *deadline) {
            return false;
        }
    }
}

// The earlier of the time-out counted from now (0: none) and the deadline.
Deadline earliest(milliseconds timeout, Deadline deadline) {
    if (timeout.count() <= 0) {
        return deadline;
    }
    const auto own = Clock::now() + timeout;
    return deadline ? std::min(own, *deadline) : own;
}

// Runs one receive or send, waiting for readiness until the deadline whenever
// the socket has no data or no room yet; `expired` is the error once the
// deadline has passed.
template <class Attempt>
Result<std::size_t> transfer(sockets::Native socket, Direction direction, Deadline deadline, SysError expired,
                             Attempt attempt) {
    for (;;) {
        auto done = attempt();
        if (!done) {
            return std::unexpected(done.error());
        }
        if (*done) {
            return **done;
        }
        auto ready = wait_until(socket, direction, deadline);
        if (!ready) {
            return std::unexpected(ready.error());
        }
        if (!*ready) {
            return std::unexpected(expired);
        }
    }
}

}  // namespace

Result<Socket> Socket::connected(OwnedHandle<ConnectionTraits> handle) {
    if (auto switched = sockets::make_nonblocking(handle.get()); !switched) {
        return std::unexpected(switched.error());
    }
    return Socket(std::move(handle));
}

Result<Socket> Socket::connect_loopback(std::uint16_t port) {
    auto made = sockets::open_tcp();
    if (!made) {
        return std::unexpected(made.error());
    }
    OwnedHandle<ConnectionTraits> handle(*made);
    if (auto done = sockets::connect_loopback(handle.get(), port); !done) {
        return std::unexpected(done.error());
    }
    return connected(std::move(handle));
}

Result<std::uint16_t> Socket::local_port() const {
    if (!handle_) {
        return std::unexpected(sockets::closed_error());
    }
    return sockets::local_port(handle_.get());
}

Result<void> Socket::set_nodelay(bool on) {
    if (!handle_) {
        return std::unexpected(sockets::closed_error());
    }
    return sockets::set_nodelay(handle_.get(), on);
}

Result<void> Socket::set_read_timeout(milliseconds timeout) {
    if (!handle_) {
        return std::unexpected(sockets::closed_error());
    }
    read_timeout_ = std::clamp(timeout, milliseconds(0), LONGEST_TIMEOUT);
    return {};
}

Result<void> Socket::set_write_timeout(milliseconds timeout) {
    if (!handle_) {
        return std::unexpected(sockets::closed_error());
    }
    write_timeout_ = std::clamp(timeout, milliseconds(0), LONGEST_TIMEOUT);
    return {};
}

Result<std::size_t> Socket::read_before(std::span<std::uint8_t> buffer, Deadline deadline) {
    if (!handle_) {
        return std::unexpected(sockets::closed_error());
    }
    const sockets::Native socket = handle_.get();
    return transfer(socket, Direction::Receive, earliest(read_timeout_, deadline), timeout_error(),
                    [&] { return sockets::try_receive(socket, buffer); });
}

// A send without room until the deadline is a time-out, not "would block":
// the peer has stopped reading, and that ends a session on every platform.
Result<std::size_t> Socket::write_before(std::span<const std::uint8_t> bytes, Deadline deadline) {
    if (!handle_) {
        return std::unexpected(sockets::closed_error());
    }
    const sockets::Native socket = handle_.get();
    return transfer(socket, Direction::Send, earliest(write_timeout_, deadline), send_timeout_error(),
                    [&] { return sockets::try_send(socket, bytes); });
}

Result<bool> Socket::wait_readable(milliseconds timeout) {
    if (!handle_) {
        return std::unexpected(sockets::closed_error());
    }
    // A zero time-out here means "just look", not "no limit".
    return wait_until(handle_.get(), Direction::Receive, Clock::now() + std::max(timeout, milliseconds(0)));
}

Result<Listener> Listener::bind_loopback(std::uint16_t port, int backlog) {
    auto made = sockets::open_tcp();
    if (!made) {
        return std::unexpected(made.error());
    }
    OwnedHandle<SocketTraits> handle(*made);
    if (auto bound = sockets::bind_and_listen(handle.get(), port, backlog); !bound) {
        return std::unexpected(bound.error());
    }
    return Listener(std::move(handle));
}

Result<std::uint16_t> Listener::local_port() const { return sockets::local_port(handle_.get()); }

Result<Socket> Listener::accept() {
    auto accepted = sockets::accept_on(handle_.get());
    if (!accepted) {
        return std::unexpected(accepted.error());
    }
    return Socket::connected(OwnedHandle<ConnectionTraits>(*accepted));
}

}  // namespace os
