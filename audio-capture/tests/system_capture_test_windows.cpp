// The Windows platform end to end, as far as the machine allows: on Windows
// 10 2004+ the activation succeeds; under Wine and on older systems it fails
// with the activation's own text.

#include <gtest/gtest.h>

#include <string>

#include "capture/capture_thread.hpp"
#include "capture/windows/process_loopback.hpp"
#include "support/scripted_capture.hpp"

namespace audio::capture {
namespace {

const std::string ACTIVATION_FAILED = "ativação do loopback falhou (precisa do Windows 10 2004+): ";

bool starts_with(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

TEST(ProcessLoopbackWindows, ActivationGivesAClientOrTheActivationFailure) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    for (auto mode : {CaptureMode::Include, CaptureMode::Exclude}) {
        auto client = windows::activate_process_loopback(mode, GetCurrentProcessId());
        if (!client) {
            EXPECT_TRUE(starts_with(client.error(), ACTIVATION_FAILED)) << client.error();
        } else {
            EXPECT_TRUE(client->get() != nullptr);
        }
    }
    CoUninitialize();
}

TEST(ProcessLoopbackWindows, CaptureThreadReportsOnceAndEnds) {
    auto setup = test_support::make_capture_setup(CaptureMode::Include, GetCurrentProcessId());
    std::thread thread(capture_thread, std::move(setup.context));
    const auto report = test_support::wait_start_report(setup.ends.start);
    setup.ends.stop->store(true);
    thread.join();
    ASSERT_TRUE(report.has_value());
    if (const auto* failed = std::get_if<Failed>(&*report)) {
        EXPECT_TRUE(starts_with(failed->text, ACTIVATION_FAILED)) << failed->text;
    }
}

}  // namespace
}  // namespace audio::capture
