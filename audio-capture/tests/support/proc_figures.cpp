#include "support/proc_figures.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace test_support {
namespace {

// "0100007F:1F90" -> 0x1F90
std::optional<std::uint16_t> port_of(const std::string& address) {
    const auto colon = address.find(':');
    if (colon == std::string::npos) return std::nullopt;
    return static_cast<std::uint16_t>(std::stoul(address.substr(colon + 1), nullptr, 16));
}

}  // namespace

std::optional<std::size_t> tcp_send_queue(std::uint16_t local_port, std::uint16_t remote_port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        // sl local_address rem_address st tx_queue:rx_queue ...
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        if (!(fields >> slot >> local >> remote >> state >> queues)) continue;
        constexpr const char* ESTABLISHED = "01";
        if (port_of(local) == local_port && port_of(remote) == remote_port && state == ESTABLISHED) {
            return std::stoul(queues.substr(0, queues.find(':')), nullptr, 16);
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> open_descriptors(std::uint32_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid) + "/fd", error);
    if (error) return std::nullopt;
    std::size_t count = 0;
    for (auto it = entries; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) return std::nullopt;
        ++count;
    }
    return count;
}

std::optional<std::size_t> resident_kib(std::uint32_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) return std::stoul(line.substr(6));
    }
    return std::nullopt;
}

}  // namespace test_support
