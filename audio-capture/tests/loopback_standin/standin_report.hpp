#pragma once
// The stand-in engine's report: every call it answered outside the packet
// loop (with its result), what the caller did that the engine does not allow,
// what it delivered and which of its objects are still alive. Rewritten to
// the file named by BRQ_STANDIN_REPORT after each entry, and a last time at
// process exit, ending with the line "exit".

#include <windows.h>

#include <cstdint>
#include <string>

namespace standin {

// The engine's own COM objects, counted while they live.
enum class Kind { Operation, AudioClient, CaptureClient, Other };

void object_created(Kind kind);
void object_destroyed(Kind kind);

// One answered call, e.g. "IAudioClient::Start -> 0x00000000".
void journal(const std::string& line);
// A misuse by the caller (kept in the report as "violation: " + text).
void violation(const std::string& text);
// A packet the caller took and released.
void packet_delivered(std::uint32_t frames);

// At process exit: the last report, with the live objects and "exit".
void write_final_report() noexcept;

// "0x" and eight upper-case hexadecimal digits.
[[nodiscard]] std::string hex(HRESULT code);

}  // namespace standin
