#pragma once
// The stand-in engine's controls, read once from the environment:
//   BRQ_STANDIN_FAULTS     faults by name, comma-separated, each "name" or "name=value"
//   BRQ_STANDIN_PERIOD_MS  the engine's period: one event (and 10 ms of sound) per period; 10
//   BRQ_STANDIN_REPORT     the file the engine keeps its report in
// The README's testing part lists every fault.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "standin_signal.hpp"

namespace standin {

struct Config {
    // Activation.
    std::optional<HRESULT> activate_call_fails;    // the call itself returns this
    bool no_operation = false;                     // the call succeeds without an operation
    std::optional<HRESULT> result_call_fails;      // GetActivateResult itself returns this
    std::optional<HRESULT> activation_fails;       // the activation result of every activation
    std::optional<HRESULT> second_activation_fails;  // the activation result of the second one
    bool no_interface = false;                     // success without an interface
    bool wrong_interface = false;                  // success with an object that is no IAudioClient
    std::optional<DWORD> late_activation_ms;       // completion this long after the (slow) call

    // The stream.
    bool refuse_unconverted_format = false;        // Initialize needs AUTOCONVERTPCM
    std::optional<HRESULT> refuse_every_format;    // ... and then fails with this anyway
    std::optional<HRESULT> capture_client_fails;   // GetService(IAudioCaptureClient) returns this
    bool capture_client_missing = false;           // ... succeeds without an interface
    std::optional<HRESULT> start_fails;            // Start returns this
    PacketPlan packets;
    bool null_buffer = false;                      // zeroed packets come without data, not flagged silent
    bool late_events = false;                      // every 10th event comes 150 ms late
    std::optional<std::uint64_t> invalidated_in_get_buffer;       // after this many packets
    std::optional<std::uint64_t> invalidated_in_next_packet_size; // after this many packets
    DWORD slow_stop_ms = 0;
    DWORD slow_release_ms = 0;

    DWORD period_ms = 10;
    std::wstring report_path;
    std::vector<std::string> errors;  // faults that could not be understood
};

// Read on first use; the same for the whole process.
[[nodiscard]] const Config& config();

// The time the slow activation call takes before it returns.
inline constexpr DWORD LATE_CALL_MS = 500;
// How late a late event comes.
inline constexpr DWORD LATE_EVENT_MS = 150;

}  // namespace standin
