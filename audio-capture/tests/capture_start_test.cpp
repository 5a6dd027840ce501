// Start-up of the process-loopback capture through the scripted platform:
// the order of the calls, the fallback, and the text of every start failure.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/capture_thread.hpp"
#include "support/scripted_capture.hpp"

namespace audio::capture {
namespace {

using test_support::CaptureScript;
using test_support::ScriptedCapture;
using Calls = std::vector<std::string>;

struct Outcome {
    std::optional<StartReport> report;
    Calls calls;
    std::vector<std::string> log;
};

// Runs the capture with the script until it ends by itself, or, once it has
// started, until it is stopped.
Outcome run_script(CaptureScript script, CaptureMode mode = CaptureMode::Include,
                   std::uint32_t pid = 4242) {
    test_support::clear_logged_lines();
    ScriptedCapture platform(std::move(script));
    auto setup = test_support::make_capture_setup(mode, pid);
    test_support::CaptureThread thread(std::move(setup.context), platform);
    Outcome outcome;
    outcome.report = test_support::wait_start_report(setup.ends.start);
    setup.ends.stop->store(true);
    platform.wake();
    thread.join();
    outcome.calls = platform.calls();
    outcome.log = test_support::logged_lines();
    return outcome;
}

std::string failed_text(const Outcome& outcome) {
    if (!outcome.report) {
        return "<no report>";
    }
    const auto* failed = std::get_if<Failed>(&*outcome.report);
    return failed != nullptr ? failed->text : "<started>";
}

TEST(CaptureStart, StartsInOrderAndStopsInReverse) {
    const auto outcome = run_script({}, CaptureMode::Exclude, 77);
    ASSERT_TRUE(outcome.report.has_value());
    EXPECT_TRUE(std::holds_alternative<Started>(*outcome.report));
    const Calls expected_start = {"CoInitializeEx", "CreateEventW", "Activate#1(0,77)",
                                  "Initialize#1(0x00000000)", "GetService#1", "Start#1"};
    ASSERT_GE(outcome.calls.size(), expected_start.size());
    EXPECT_EQ(Calls(outcome.calls.begin(), outcome.calls.begin() + 6), expected_start);
    const Calls expected_end = {"Stop#1", "Release capture client", "Release client#1", "CloseHandle",
                                "CoUninitialize"};
    EXPECT_EQ(Calls(outcome.calls.end() - 5, outcome.calls.end()), expected_end);
    EXPECT_TRUE(outcome.log.empty());
}

TEST(CaptureStart, EachFailureReportsItsTextAndReleasesWhatWasAcquired) {
    struct Case {
        const char* name;
        CaptureScript script;
        std::string text;
        Calls calls;
    };
    const std::vector<Case> cases = {
        {"COM initialization", {.com_failure = "com down (0x80004005)"},
         "CoInitializeEx: com down (0x80004005)",
         {"CoInitializeEx"}},  // and no CoUninitialize
        {"buffer event", {.event_failure = "no handles (0x80070008)"},
         "CreateEventW: no handles (0x80070008)",
         {"CoInitializeEx", "CreateEventW", "CoUninitialize"}},
        {"activation", {.activation_failures = {"ativação do loopback expirou"}},
         "ativação do loopback expirou",
         {"CoInitializeEx", "CreateEventW", "Activate#1(1,4242)", "CloseHandle", "CoUninitialize"}},
        {"capture client", {.capture_client_failure = "0x00000000"},
         "IAudioCaptureClient: 0x00000000",
         {"CoInitializeEx", "CreateEventW", "Activate#1(1,4242)", "Initialize#1(0x00000000)",
          "GetService#1", "Release client#1", "CloseHandle", "CoUninitialize"}},
        {"start", {.start_failure = "busy (0x88890002)"},
         "IAudioClient::Start: busy (0x88890002)",
         {"CoInitializeEx", "CreateEventW", "Activate#1(1,4242)", "Initialize#1(0x00000000)",
          "GetService#1", "Start#1", "Release capture client", "Release client#1", "CloseHandle",
          "CoUninitialize"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = run_script(c.script);
        EXPECT_EQ(failed_text(outcome), c.text);
        EXPECT_EQ(outcome.calls, c.calls);
        EXPECT_TRUE(outcome.log.empty());
    }
}

TEST(CaptureStart, RefusedFormatFallsBackToConversionOnAFreshClient) {
    const auto outcome = run_script({.initialize_failures = {"formato (0x88890008)"}});
    ASSERT_TRUE(outcome.report.has_value());
    EXPECT_TRUE(std::holds_alternative<Started>(*outcome.report));
    const Calls expected_start = {"CoInitializeEx",
                                  "CreateEventW",
                                  "Activate#1(1,4242)",
                                  "Initialize#1(0x00000000)",
                                  "Activate#2(1,4242)",
                                  "Release client#1",
                                  "Initialize#2(0x88000000)",
                                  "GetService#2",
                                  "Start#2"};
    ASSERT_GE(outcome.calls.size(), expected_start.size());
    EXPECT_EQ(Calls(outcome.calls.begin(), outcome.calls.begin() + 9), expected_start);
    EXPECT_EQ(outcome.calls.back(), "CoUninitialize");
    EXPECT_EQ(outcome.log,
              std::vector<std::string>{
                  "Initialize sem conversão falhou (formato (0x88890008)); tentando com AUTOCONVERTPCM"});
}

TEST(CaptureStart, BothInitializeAttemptsFailingReportsOnlyTheSecondError) {
    const auto outcome = run_script({.initialize_failures = {"primeiro (0x1)", "segundo (0x2)"}});
    EXPECT_EQ(failed_text(outcome), "IAudioClient::Initialize: segundo (0x2)");
    EXPECT_EQ(outcome.log, std::vector<std::string>{
                               "Initialize sem conversão falhou (primeiro (0x1)); tentando com AUTOCONVERTPCM"});
    const Calls expected = {"CoInitializeEx",     "CreateEventW",     "Activate#1(1,4242)",
                            "Initialize#1(0x00000000)", "Activate#2(1,4242)", "Release client#1",
                            "Initialize#2(0x88000000)", "Release client#2",   "CloseHandle",
                            "CoUninitialize"};
    EXPECT_EQ(outcome.calls, expected);
}

TEST(CaptureStart, SecondActivationFailingReportsTheActivationText) {
    const auto outcome = run_script({
        .activation_failures = {std::nullopt, "ativação sem interface"},
        .initialize_failures = {"primeiro (0x1)"},
    });
    EXPECT_EQ(failed_text(outcome), "ativação sem interface");
    EXPECT_EQ(outcome.log, std::vector<std::string>{
                               "Initialize sem conversão falhou (primeiro (0x1)); tentando com AUTOCONVERTPCM"});
    const Calls expected = {"CoInitializeEx",     "CreateEventW",     "Activate#1(1,4242)",
                            "Initialize#1(0x00000000)", "Activate#2(1,4242)", "Release client#1",
                            "CloseHandle",        "CoUninitialize"};
    EXPECT_EQ(outcome.calls, expected);
    for (const auto& call : outcome.calls) {
        EXPECT_NE(call.rfind("GetService", 0), 0u) << "no capture client after a failed start";
        EXPECT_NE(call.rfind("Start", 0), 0u);
    }
}

TEST(CaptureStart, FailedReportWithNobodyListeningStillEndsTheThread) {
    test_support::clear_logged_lines();
    ScriptedCapture platform({.start_failure = "x"});
    auto setup = test_support::make_capture_setup(CaptureMode::Include, 1);
    { auto gone = std::move(setup.ends.start); }
    test_support::CaptureThread thread(std::move(setup.context), platform);
    thread.join();
    EXPECT_EQ(platform.calls().back(), "CoUninitialize");
}

}  // namespace
}  // namespace audio::capture
