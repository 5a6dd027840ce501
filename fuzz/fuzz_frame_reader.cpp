// Fuzzes WebSocket::read in the server role over an in-memory stream. The
// first byte chooses how the rest is cut into receives, whether time-outs
// come between the pieces and whether the stream ends; the rest is what the
// client sends after the handshake. Whatever the input, every byte the
// server writes must be a valid sequence of unmasked server frames.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "fuzz_check.hpp"
#include "server/ws_frame.hpp"
#include "server/websocket.hpp"
#include "support/memory_stream.hpp"
#include "client/ws_client.hpp"

namespace {

// `cut_end`: the connection ended with output still queued, so the last
// frame may be incomplete.
void check_server_output(std::span<const std::uint8_t> bytes, bool cut_end) {
    bool closed = false;
    while (!bytes.empty()) {
        const auto frame = client::parse_frame(bytes);
        if (!frame && cut_end) {
            return;
        }
        FUZZ_CHECK(frame.has_value());
        FUZZ_CHECK(frame->fin && !frame->masked && frame->rsv == 0);
        FUZZ_CHECK(!closed);  // nothing follows a close
        switch (frame->opcode) {
        case 0x1:
        case 0x2:
            break;
        case 0x8:
            FUZZ_CHECK(frame->payload.size() != 1 && frame->payload.size() <= 125);
            closed = true;
            break;
        case 0xA:
            FUZZ_CHECK(frame->payload.size() <= 125);
            break;
        default:
            FUZZ_CHECK(false);
        }
        // The shortest length form.
        const std::size_t header = frame->wire_size - frame->payload.size();
        const std::size_t n = frame->payload.size();
        FUZZ_CHECK(header == (n < 126 ? 2u : (n <= 0xFFFF ? 4u : 10u)));
        bytes = bytes.subspan(frame->wire_size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t control = data[0];
    const std::span<const std::uint8_t> input(data + 1, size - 1);

    auto peer = std::make_shared<test_support::MemoryPeer>();
    const std::size_t stride = (control & 0x0F) == 0 ? input.size() : (control & 0x0F) * 3u;
    std::size_t pieces = 0;
    for (std::size_t at = 0; at < input.size(); at += stride) {
        peer->push_input(input.subspan(at, std::min(stride, input.size() - at)));
        if ((control & 0x10) != 0) {
            peer->push_timeout();
        }
        ++pieces;
    }
    if ((control & 0x20) != 0) {
        peer->push_eof();
    }
    if ((control & 0x40) != 0) {
        peer->limit_writes(5);  // the client reads slowly: replies must stay queued
    }

    server::WebSocket ws(std::make_unique<test_support::MemoryStream>(peer));
    for (std::size_t turn = 0; turn < 2 * pieces + 8; ++turn) {
        auto message = ws.read();
        if (!message) {
            if (message.error().is_timeout() && peer->input_pending()) {
                continue;
            }
            FUZZ_CHECK(!message.error().text().empty());
            break;
        }
        if (message->kind == server::MessageKind::Ping) {
            (void)ws.flush();
        } else if (message->kind == server::MessageKind::Text && (control & 0x80) != 0) {
            (void)ws.write(*message);  // echo, to mix our frames with the replies
        }
    }
    (void)ws.close();
    peer->limit_writes(std::nullopt);
    (void)ws.flush();
    check_server_output(peer->written(), ws.queued_bytes() > 0);
    return 0;
}
