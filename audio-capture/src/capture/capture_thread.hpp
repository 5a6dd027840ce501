#pragma once
// The body of a session's capture thread.

#include "capture/capture_context.hpp"
#include "capture/capture_platform.hpp"

namespace audio::capture {

// Runs one capture to its end on the calling thread: FakeSource produces the
// synthetic signal; Include and Exclude start the process-loopback stream on
// the platform, report Started or Failed once, then hand frames over until
// the stop flag is set, the frame receiver is gone or the engine fails.
// Every outcome travels on the context's channels.
void run_capture(CaptureContext context, CapturePlatform& platform) noexcept;

// run_capture on the running system's platform. The spawner names the
// thread CAPTURE_THREAD_NAME.
void capture_thread(CaptureContext context) noexcept;

// The FakeSource branch: no platform call at all.
void run_fake_source(CaptureContext& context) noexcept;

}  // namespace audio::capture
