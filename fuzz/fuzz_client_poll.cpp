// Fuzzes the session's poll of its client: bytes from a client fed through
// the frame layer with the poll's time and byte budget. The first two bytes
// choose how the rest is cut into receives, whether time-outs come between
// the pieces, whether the stream ends, the byte budget and whether the
// poll's time is spent at once.
//
// Whatever the client sends, a poll must stay within its budget: with its
// time spent, no read receives more than once; no read takes in more than
// its bytes. And the budget must cost nothing: the polls reach the same end,
// and write the same replies, as polls without a budget.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "client_poll.hpp"
#include "fuzz_check.hpp"
#include "support/memory_stream.hpp"

namespace {

using std::chrono::hours;

struct Script {
    std::span<const std::uint8_t> input;
    std::size_t stride = 0;
    bool timeouts = false;
    bool eof = false;
};

std::shared_ptr<test_support::MemoryPeer> make_peer(const Script& script) {
    auto peer = std::make_shared<test_support::MemoryPeer>();
    for (std::size_t at = 0; at < script.input.size(); at += script.stride) {
        peer->push_input(script.input.subspan(at, std::min(script.stride, script.input.size() - at)));
        if (script.timeouts) {
            peer->push_timeout();
        }
    }
    if (script.eof) {
        peer->push_eof();
    }
    return peer;
}

// How a run of polls ended, and what the server wrote.
struct Outcome {
    std::string end;  // "left", "streaming" or the error text
    std::vector<std::uint8_t> written;
};

// Polls as the session does until the client leaves, an error ends it or the
// input is used up; then ends as the session does.
Outcome run_polls(const Script& script, audio::PollLimits limits, bool check_budget) {
    auto peer = make_peer(script);
    server::WebSocket ws(std::make_unique<test_support::MemoryStream>(peer));
    Outcome outcome{"streaming", {}};
    // Every poll with something to read takes at least one byte or one
    // scripted event, so this many polls always suffice.
    const std::size_t max_polls = 2 * script.input.size() + 8;
    std::size_t polls = 0;
    for (; polls < max_polls && (peer->input_pending() || ws.buffered_input() > 0); ++polls) {
        const std::size_t reads_before = peer->reads();
        const std::size_t taken_before = peer->bytes_delivered() - ws.buffered_input();
        auto polled = audio::poll_client(ws, limits);
        const std::size_t taken = peer->bytes_delivered() - ws.buffered_input() - taken_before;
        if (check_budget) {
            FUZZ_CHECK(taken <= audio::MAX_READS_PER_POLL * limits.bytes_per_read);
            if (limits.time.count() == 0) {
                FUZZ_CHECK(peer->reads() - reads_before <= static_cast<std::size_t>(audio::MAX_READS_PER_POLL));
            }
        }
        if (!polled) {
            outcome.end = polled.error();
            break;
        }
        if (*polled == audio::PollOutcome::ClientLeft) {
            outcome.end = "left";
            break;
        }
    }
    FUZZ_CHECK(polls < max_polls);  // the budget never starves the reader
    (void)ws.close();
    (void)ws.flush();
    outcome.written = peer->take_written();
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t cut = data[0];
    const std::uint8_t budget = data[1];
    Script script;
    script.input = std::span(data + 2, size - 2);
    script.stride = (cut & 0x1F) == 0 ? std::max<std::size_t>(script.input.size(), 1) : (cut & 0x1F);
    script.timeouts = (cut & 0x20) != 0;
    script.eof = (cut & 0x40) != 0;

    // Small byte budgets, so that short inputs already spend them.
    const audio::PollLimits limits{(budget & 0x80) != 0 ? std::chrono::milliseconds(0) : hours(1),
                                   static_cast<std::size_t>(budget & 0x7F) + 1};
    const Outcome bounded = run_polls(script, limits, true);
    const Outcome free = run_polls(script, {hours(1), SIZE_MAX}, false);
    FUZZ_CHECK(bounded.end == free.end);
    FUZZ_CHECK(bounded.written == free.written);
    return 0;
}
