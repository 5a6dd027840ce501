#pragma once
// Every text of the capture side, in one place: the capture thread's name,
// the step prefixes of start failures, the activation failures (Windows) and
// the sound-server failures (Linux), and the one log record the capture
// thread writes.

#include <string_view>

namespace audio::capture {

// The name of the thread that runs capture_thread (given by whoever spawns it).
inline constexpr const char* CAPTURE_THREAD_NAME = "captura";

// Start failures: a step's prefix, then the rendered error.
inline constexpr std::string_view CO_INITIALIZE_PREFIX = "CoInitializeEx: ";
inline constexpr std::string_view CREATE_EVENT_PREFIX = "CreateEventW: ";
inline constexpr std::string_view INITIALIZE_PREFIX = "IAudioClient::Initialize: ";
inline constexpr std::string_view CAPTURE_CLIENT_PREFIX = "IAudioCaptureClient: ";
inline constexpr std::string_view START_PREFIX = "IAudioClient::Start: ";

// Activation of the process-loopback client.
inline constexpr std::string_view ACTIVATE_ASYNC_PREFIX = "ActivateAudioInterfaceAsync: ";
inline constexpr std::string_view ACTIVATION_TIMED_OUT = "ativação do loopback expirou";
inline constexpr std::string_view GET_ACTIVATE_RESULT_PREFIX = "GetActivateResult: ";
inline constexpr std::string_view ACTIVATION_FAILED_PREFIX =
    "ativação do loopback falhou (precisa do Windows 10 2004+): ";
inline constexpr std::string_view ACTIVATION_WITHOUT_INTERFACE = "ativação sem interface";
inline constexpr std::string_view AUDIO_CLIENT_PREFIX = "IAudioClient: ";

// The Linux port captures through the PipeWire sound server. Connecting:
// the cause, the server's socket in parentheses, then ": " and the system's
// error text, or the cause alone.
inline constexpr std::string_view SERVER_ABSENT = "nenhum servidor de som PipeWire em execução";
inline constexpr std::string_view SERVER_REFUSED = "o servidor de som PipeWire recusou a conexão";
inline constexpr std::string_view SERVER_FORBIDDEN = "sem permissão para usar o servidor de som PipeWire";
inline constexpr std::string_view SERVER_CONNECT_FAILED = "conexão ao servidor de som PipeWire falhou";
inline constexpr std::string_view SERVER_NO_RUNTIME_DIR = "XDG_RUNTIME_DIR não definido";
// The server accepted the connection, then did not answer or ended it
// (followed by ": " and its own message, when it gave one).
inline constexpr std::string_view SERVER_SILENT = "o servidor de som PipeWire não respondeu";
inline constexpr std::string_view SERVER_CLOSED = "o servidor de som PipeWire encerrou a conexão";
// The client library's context and loop thread, the capture stream and the
// graph watch.
inline constexpr std::string_view PIPEWIRE_CONTEXT_PREFIX = "contexto do PipeWire: ";
inline constexpr std::string_view PIPEWIRE_THREAD_PREFIX = "thread do PipeWire: ";
inline constexpr std::string_view CAPTURE_STREAM_PREFIX = "fluxo de captura do PipeWire: ";
inline constexpr std::string_view CAPTURE_STREAM_NOT_READY = "o fluxo de captura do PipeWire não ficou pronto";
inline constexpr std::string_view GRAPH_WATCH_PREFIX = "registro do PipeWire: ";

// The log record written before the second, converting attempt:
// FALLBACK_NOTICE_BEFORE + rendered first error + FALLBACK_NOTICE_AFTER.
inline constexpr std::string_view FALLBACK_NOTICE_BEFORE = "Initialize sem conversão falhou (";
inline constexpr std::string_view FALLBACK_NOTICE_AFTER = "); tentando com AUTOCONVERTPCM";

}  // namespace audio::capture
