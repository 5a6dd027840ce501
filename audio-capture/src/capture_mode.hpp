#pragma once

// What a session's capture thread produces.
enum class CaptureMode {
    Exclude,     // everything the system plays except the target process tree
    Include,     // only the target process tree
    FakeSource,  // a synthetic test signal
};
