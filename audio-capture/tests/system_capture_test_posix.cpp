// The Linux port's own platform: process capture cannot start.

#include <gtest/gtest.h>

#include "capture/capture_thread.hpp"
#include "support/scripted_capture.hpp"

namespace audio::capture {
namespace {

TEST(SystemCapturePosix, ProcessCaptureReportsItIsUnavailable) {
    for (auto mode : {CaptureMode::Include, CaptureMode::Exclude}) {
        auto setup = test::make_capture_setup(mode, 1);
        std::thread thread(capture_thread, std::move(setup.context));
        const auto report = test::wait_start_report(setup.ends.start);
        thread.join();
        ASSERT_TRUE(report.has_value());
        const auto* failed = std::get_if<Failed>(&*report);
        ASSERT_NE(failed, nullptr);
        EXPECT_EQ(failed->text, "captura de processo indisponível neste sistema");
        EXPECT_EQ(setup.ends.frames.try_recv().error(), RecvError::Disconnected);
    }
}

}  // namespace
}  // namespace audio::capture
