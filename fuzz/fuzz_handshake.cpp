// Fuzzes the request-head parser and the handshake checks over an in-memory
// stream. The first byte chooses how the rest is cut into receives and which
// origins the configuration allows; the rest is what the client sends.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "fuzz_check.hpp"
#include "server/handshake.hpp"
#include "server/http_request.hpp"
#include "support/memory_stream.hpp"

namespace {

constexpr std::uint16_t PORT = 8080;
constexpr std::string_view FORBIDDEN = "HTTP/1.1 403 Forbidden\r\n\r\nforbidden";
constexpr std::string_view SWITCHING = "HTTP/1.1 101 Switching Protocols\r\n";

// The parser answers "need more" for every proper prefix of a complete head,
// and reports an error the same way for any longer input.
void check_parser(std::span<const std::uint8_t> input) {
    const auto whole = server::parse_request_head(input);
    if (whole && *whole) {
        const std::size_t length = (*whole)->length;
        FUZZ_CHECK(length > 0 && length <= input.size());
        const auto shorter = server::parse_request_head(input.first(length - 1));
        FUZZ_CHECK(shorter && !*shorter);
        const auto half = server::parse_request_head(input.first(length / 2));
        FUZZ_CHECK(half && !*half);
        FUZZ_CHECK((*whole)->headers.size() <= server::MAX_REQUEST_HEADERS);
    } else if (!whole && input.size() > 1) {
        const auto longer = server::parse_request_head(input.first(input.size() - 1));
        FUZZ_CHECK(!longer || !*longer);  // a prefix of a failing input never completes
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t control = data[0];
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    check_parser(input);

    auto peer = std::make_shared<test_support::MemoryPeer>();
    const std::size_t stride = (control & 0x1F) == 0 ? input.size() : (control & 0x1F) * 7u;
    for (std::size_t at = 0; at < input.size(); at += stride) {
        peer->push_input(input.subspan(at, std::min(stride, input.size() - at)));
    }
    if ((control & 0x20) != 0) {
        peer->push_timeout();
    }
    peer->push_eof();

    server::SessionConfig config;
    config.token = "abcdefghijklmnop";
    if ((control & 0x40) != 0) {
        config.additional_origins = {"*"};
    } else if ((control & 0x80) != 0) {
        config.additional_origins = {"http://localhost:3000"};
    }
    auto result = server::server_handshake(std::make_unique<test_support::MemoryStream>(peer), PORT, config);

    const auto& written = peer->written();
    const std::string_view out(reinterpret_cast<const char*>(written.data()), written.size());
    if (result) {
        FUZZ_CHECK(!peer->closed());
        FUZZ_CHECK(out.starts_with(SWITCHING) && out.ends_with("\r\n\r\n"));
        FUZZ_CHECK(result->can_write());
    } else {
        FUZZ_CHECK(peer->closed());
        FUZZ_CHECK(!result.error().text().empty());
        if (result.error().kind() == server::WsErrorKind::Http) {
            FUZZ_CHECK(out == FORBIDDEN);
        } else {
            FUZZ_CHECK(out.empty());
        }
    }
    return 0;
}
