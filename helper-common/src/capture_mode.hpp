#pragma once

#include <cstdint>

// What a session's capture thread produces. The numeric values are fixed:
// the activation request derives the loopback mode from them.
enum class CaptureMode : std::uint32_t {
    Exclude = 0,     // everything the system plays except the target process tree
    Include = 1,     // only the target process tree
    FakeSource = 2,  // a synthetic test signal
};
