#pragma once
// Every text of the capture side, in one place: the capture thread's name,
// the step prefixes of start failures, the activation failures and the one
// log record the capture thread writes.

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

// Where the system has no process-loopback engine at all (the Linux port).
inline constexpr std::string_view PROCESS_CAPTURE_UNAVAILABLE =
    "captura de processo indisponível neste sistema";

// The log record written before the second, converting attempt:
// FALLBACK_NOTICE_BEFORE + rendered first error + FALLBACK_NOTICE_AFTER.
inline constexpr std::string_view FALLBACK_NOTICE_BEFORE = "Initialize sem conversão falhou (";
inline constexpr std::string_view FALLBACK_NOTICE_AFTER = "); tentando com AUTOCONVERTPCM";

}  // namespace audio::capture
