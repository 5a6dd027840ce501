#pragma once
// Figures of the Linux kernel's /proc about the program under test. The TCP
// table is readable from a Wine process too (its sockets are the host's).

#include <cstddef>
#include <cstdint>
#include <optional>

namespace test_support {

// Bytes queued for sending and not yet acknowledged on the established
// loopback TCP connection from local_port to remote_port; nullopt when there
// is none (a closing connection's queue also counts its FIN).
[[nodiscard]] std::optional<std::size_t> tcp_send_queue(std::uint16_t local_port, std::uint16_t remote_port);

// Linux only: the number of open descriptors, and the resident set in KiB.
[[nodiscard]] std::optional<std::size_t> open_descriptors(std::uint32_t pid);
[[nodiscard]] std::optional<std::size_t> resident_kib(std::uint32_t pid);

}  // namespace test_support
