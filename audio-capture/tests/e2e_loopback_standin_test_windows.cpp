// The real program under Wine with the stand-in process-loopback engine: the
// bytes a client receives, the log records and the engine's report, in
// include and exclude mode, for the engine's odd packets and for each way the
// engine can fail at start or while streaming.

#include <gtest/gtest.h>

#include <algorithm>

#include "capture/windows/com_error.hpp"
#include "support/standin_program.hpp"
#include "support/stream_check.hpp"

namespace {

using namespace std::chrono_literals;
using client::ServerFrame;
using test_support::StandinProgram;
using test_support::StandinReport;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t TEXT = 1, BINARY = 2, CLOSE = 8;
constexpr std::size_t FRAME_BYTES = 1920;
const std::string ACTIVATION_FAILED = "ativação do loopback falhou (precisa do Windows 10 2004+): ";
const std::string INITIALIZE_LINE = "IAudioClient::Initialize shared ";
const std::string FORMAT_AND_RESULT = " 200000 0 PCM 2 ch 48000 Hz 16 bit -> ";

// What the system says about a code, as the program renders it.
std::string rendered(HRESULT code) { return audio::capture::windows::render_com_error({code, {}}); }

std::string fallback_notice() {
    return "Initialize sem conversão falhou (" + rendered(AUDCLNT_E_UNSUPPORTED_FORMAT) +
           "); tentando com AUTOCONVERTPCM";
}

ServerFrame read_or_fail(client::WsClient& client, std::chrono::milliseconds timeout = 10s) {
    auto frame = client.read_frame(timeout);
    if (!frame) {
        ADD_FAILURE() << "no frame: " << frame.error().text();
        return ServerFrame{};
    }
    return std::move(*frame);
}

void expect_format_message(client::WsClient& client) {
    const ServerFrame first = read_or_fail(client);
    EXPECT_EQ(first.opcode, TEXT);
    EXPECT_EQ(first.text(), test_support::FORMAT_MESSAGE);
    EXPECT_EQ(first.wire_size, 2u + 97u) << "81 61 header";
}

// The next `frames` messages are audio frames equal to the engine's stream
// from its start: the pid and mode it was asked for, no sample lost or
// repeated, silent packets as zeros.
void expect_stream(client::WsClient& client, standin::Target target, const standin::PacketPlan& plan,
                   std::size_t frames) {
    const auto expected = standin::expected_stream(target, plan, frames * FRAME_BYTES);
    for (std::size_t i = 0; i < frames; ++i) {
        const ServerFrame frame = read_or_fail(client);
        ASSERT_EQ(frame.opcode, BINARY) << "frame " << i << ": " << frame.text();
        ASSERT_EQ(frame.wire_size, 4u + FRAME_BYTES) << "82 7E 07 80 header";
        const std::span<const std::uint8_t> want(expected.data() + i * FRAME_BYTES, FRAME_BYTES);
        if (!std::equal(want.begin(), want.end(), frame.payload.begin())) {
            const auto got = standin::decode_signal(frame.payload);
            FAIL() << "frame " << i << " differs from the engine's stream for pid " << target.pid << " mode "
                   << target.loopback_mode << " at sample " << i * 480 << "; it holds "
                   << (got ? "pid " + std::to_string(got->target.pid) + " mode " +
                                 std::to_string(got->target.loopback_mode) + " from sample " +
                                 std::to_string(got->first_sample)
                           : std::string("no signal the engine made"));
        }
    }
}

void expect_close_frame(client::WsClient& client) {
    const ServerFrame close = read_or_fail(client);
    EXPECT_EQ(close.opcode, CLOSE);
    EXPECT_EQ(close.wire_size, 2u) << "88 00";
}

// The log records from the client's authentication on.
std::vector<std::string> session_records(const test_support::ProgramRun& run) {
    const auto messages = run.log_messages();
    const auto from = std::find(messages.begin(), messages.end(), "cliente autenticado");
    return {from, messages.end()};
}

// Every object of the engine released, nothing misused, Stop called `stops` times.
void expect_engine_released(const StandinReport& report, int stops) {
    EXPECT_EQ(report.problems(), std::vector<std::string>{});
    EXPECT_EQ(report.line("live: "), "live: 0");
    EXPECT_EQ(report.count("IAudioClient::Stop -> 0x00000000"), stops);
    EXPECT_EQ(report.count("IAudioClient::Stop"), stops);
}

std::string activation_line(const StandinProgram& program) {
    const auto target = program.target();
    return "ActivateAudioInterfaceAsync VAD\\Process_Loopback pid=" + std::to_string(target.pid) +
           (target.loopback_mode == standin::LOOPBACK_INCLUDE ? " mode=include" : " mode=exclude") + " -> 0x00000000";
}

TEST(StandinEngine, ClientReceivesExactlyTheStreamTheEngineDelivers) {
    struct Row {
        const char* mode;
        const char* faults;
        standin::PacketPlan plan;
        bool converting;  // the engine wants conversion: a second activation
    };
    const Row rows[] = {
        {"--include-pid", "", {}, false},
        {"--exclude-pid", "", {}, false},
        {"--include-pid", "refuse-unconverted-format", {}, true},
        {"--include-pid", "silent-packets", {.odd_packets_zeroed = true}, false},
        {"--exclude-pid", "null-buffer,packet-frames=441", {.fixed_frames = 441, .odd_packets_zeroed = true}, false},
        {"--include-pid", "packet-frames=1024,late-events", {.fixed_frames = 1024}, false},
        {"--exclude-pid", "packet-frames=varying", {.varying = true}, false},
        {"--include-pid", "slow-stop,slow-release", {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " " + row.faults);
        StandinProgram program(row.mode, row.faults);
        auto client = test_support::connect_client(program.port);
        expect_format_message(client);
        expect_stream(client, program.target(), row.plan, 100);

        // The client leaves: the capture stops, and the engine sees one Stop.
        ASSERT_TRUE(client.send_frame(CLOSE, "").has_value());
        ASSERT_TRUE(program.run.wait_for_log("cliente desconectado")) << "the session ends after the client's Close";
        const StandinReport report = program.finish();

        std::vector<std::string> expected_records = {"cliente autenticado", "captura iniciada",
                                                     "cliente desconectado", program.end_record()};
        if (row.converting) expected_records.insert(expected_records.begin() + 1, fallback_notice());
        EXPECT_EQ(session_records(program.run), expected_records);
        EXPECT_EQ(report.count(activation_line(program)), row.converting ? 2 : 1);
        if (row.converting) {
            EXPECT_EQ(report.count(INITIALIZE_LINE + "0x00060000" + FORMAT_AND_RESULT + "0x88890008"), 1);
            EXPECT_EQ(report.count(INITIALIZE_LINE + "0x88060000" + FORMAT_AND_RESULT + "0x00000000"), 1);
        } else {
            EXPECT_EQ(report.count(INITIALIZE_LINE + "0x00060000" + FORMAT_AND_RESULT + "0x00000000"), 1);
        }
        EXPECT_EQ(report.count("IAudioClient::Initialize"), row.converting ? 2 : 1);
        expect_engine_released(report, 1);
    }
}

TEST(StandinEngine, EachStartFailureReachesTheClientAndTheLog) {
    struct Row {
        const char* faults;
        std::string text;
        bool fallback;  // the notice of the converting attempt comes first
    };
    const Row rows[] = {
        {"activate-call-fails=0x8007000E", "ActivateAudioInterfaceAsync: " + rendered(E_OUTOFMEMORY), false},
        {"no-operation", "ActivateAudioInterfaceAsync: " + rendered(S_OK), false},
        {"result-call-fails=0x8000FFFF", "GetActivateResult: " + rendered(E_UNEXPECTED), false},
        {"activation-fails=0x80070005", ACTIVATION_FAILED + rendered(E_ACCESSDENIED), false},
        {"no-interface", "ativação sem interface", false},
        {"wrong-interface", "IAudioClient: " + rendered(E_NOINTERFACE), false},
        {"refuse-every-format=0x80070057", "IAudioClient::Initialize: " + rendered(E_INVALIDARG), true},
        {"refuse-unconverted-format,second-activation-fails", ACTIVATION_FAILED + rendered(E_ACCESSDENIED), true},
        {"capture-client-fails=0x88890010", "IAudioCaptureClient: " + rendered(AUDCLNT_E_SERVICE_NOT_RUNNING), false},
        {"capture-client-missing", "IAudioCaptureClient: " + rendered(S_OK), false},
        {"start-fails=0x88890004", "IAudioClient::Start: " + rendered(AUDCLNT_E_DEVICE_INVALIDATED), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.faults);
        StandinProgram program("--include-pid", row.faults);
        auto client = test_support::connect_client(program.port);
        expect_format_message(client);
        const ServerFrame error = read_or_fail(client);
        EXPECT_EQ(error.opcode, TEXT);
        EXPECT_EQ(error.text(), R"({"type":"error","message":")" + row.text + R"("})");
        expect_close_frame(client);
        ASSERT_TRUE(program.run.wait_for_log("conexão encerrada: " + row.text));
        const StandinReport report = program.finish();

        std::vector<std::string> expected_records = {"cliente autenticado",
                                                     "falha ao iniciar a captura: " + row.text,
                                                     "conexão encerrada: " + row.text, program.end_record()};
        if (row.fallback) expected_records.insert(expected_records.begin() + 1, fallback_notice());
        EXPECT_EQ(session_records(program.run), expected_records);
        expect_engine_released(report, 0);
    }
}

TEST(StandinEngine, DeviceLostMidStreamEndsTheSessionAfterTheQueuedFrames) {
    struct Row {
        const char* faults;
        standin::PacketPlan plan;
        std::size_t frames;  // whole frames in the 50 packets delivered
        const char* lost_in;
    };
    const Row rows[] = {
        {"invalidated-in-get-buffer=50", {}, 50, "GetBuffer"},
        {"invalidated-in-next-packet-size=50,packet-frames=441", {.fixed_frames = 441}, 50 * 441 / 480,
         "GetNextPacketSize"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.faults);
        StandinProgram program("--exclude-pid", row.faults);
        auto client = test_support::connect_client(program.port);
        expect_format_message(client);
        expect_stream(client, program.target(), row.plan, row.frames);
        expect_close_frame(client);
        auto rest = client.read_until_closed(10s);
        ASSERT_TRUE(rest.has_value()) << "the server closes the connection";
        EXPECT_EQ(*rest, "") << "nothing after the Close";
        ASSERT_TRUE(program.run.wait_for_log("conexão encerrada: captura encerrada"));
        const StandinReport report = program.finish();

        EXPECT_EQ(session_records(program.run),
                  (std::vector<std::string>{"cliente autenticado", "captura iniciada", "cliente desconectado",
                                            "conexão encerrada: captura encerrada", program.end_record()}));
        EXPECT_EQ(report.count(std::string("device invalidated in ") + row.lost_in + " after 50 packets"), 1);
        EXPECT_EQ(report.line("delivered: "),
                  "delivered: 50 packets, " + std::to_string(50 * row.plan.fixed_frames) + " sample frames");
        expect_engine_released(report, 0);  // a lost device is released without Stop
    }
}

// The session's 10 s start limit counts from the capture thread's start, the
// activation's own 10 s from the moment the activation call returns. The
// engine's late activation makes that call take 0.5 s, so the session's limit
// always passes first and its text is the one the client gets; the capture
// thread gives up 0.5 s later and the completion comes 0.5 s after that, to a
// handler that must still take it.
TEST(StandinEngine, LateActivationEndsTheStartAtTheSessionsLimit) {
    StandinProgram program("--include-pid", "late-activation");
    auto client = test_support::connect_client(program.port);
    const auto connected = Clock::now();
    expect_format_message(client);
    const ServerFrame error = read_or_fail(client, 30s);
    EXPECT_GE(Clock::now() - connected, 10s);
    EXPECT_EQ(error.opcode, TEXT);
    EXPECT_EQ(error.text(), R"({"type":"error","message":"a captura não iniciou a tempo"})");
    expect_close_frame(client);
    ASSERT_TRUE(program.run.wait_for_log("conexão encerrada: a captura não iniciou a tempo"));
    ASSERT_TRUE(test_support::wait_until([&] { return program.report().count("ActivateCompleted") == 1; }, 10s))
        << "the late completion reaches the engine's report";
    const StandinReport report = program.finish();

    EXPECT_EQ(session_records(program.run),
              (std::vector<std::string>{"cliente autenticado",
                                        "falha ao iniciar a captura: a captura não iniciou a tempo",
                                        "conexão encerrada: a captura não iniciou a tempo", program.end_record()}));
    EXPECT_EQ(report.count("ActivateCompleted -> 0x00000000"), 1) << "the handler signals its own, live event";
    EXPECT_EQ(report.count("GetActivateResult"), 0) << "the program had given up on the activation";
    expect_engine_released(report, 0);
}

}  // namespace
