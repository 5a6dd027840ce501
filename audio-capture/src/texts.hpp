#pragma once
// The program's own log texts and error texts, in one place. Each is used
// exactly as written; "{…}" parts are appended by the caller.

#include <string_view>

namespace audio::texts {

// Start-up and shutdown.
inline constexpr std::string_view ARGUMENTS = "argumentos: ";
inline constexpr std::string_view MODE_INCLUDE = "modo include: capturando só a árvore do pid ";
inline constexpr std::string_view MODE_EXCLUDE = "modo exclude: excluindo a árvore do pid ";
inline constexpr std::string_view MODE_EXCLUDE_GIVEN = " (recebido ";
inline constexpr std::string_view PROCESS_PREFIX = "processo ";
inline constexpr std::string_view PROCESS_MISSING = " não existe; saindo";
inline constexpr std::string_view BIND = "bind: ";
inline constexpr std::string_view LISTENING = "ouvindo em 127.0.0.1:";
inline constexpr std::string_view WRITE_INFO = "gravar ";
inline constexpr std::string_view INCLUDED_PROCESS_ENDED = "o processo capturado terminou";
inline constexpr std::string_view EXCLUDED_PROCESS_ENDED = "o processo do Discord terminou";
inline constexpr std::string_view PANIC = "PANIC: ";
inline constexpr std::string_view FAILED_TO_SPAWN_THREAD = "failed to spawn thread";

// Command line.
inline constexpr std::string_view UNKNOWN_ARGUMENT = "argumento desconhecido: ";
inline constexpr std::string_view NEEDS_VALUE = " exige um valor";
inline constexpr std::string_view BAD_IDLE_SECS = "--idle-secs inválido";
inline constexpr std::string_view BAD_PID = "PID inválido";
inline constexpr std::string_view NO_PID_OPTION = "--exclude-pid ou --include-pid é obrigatório";
inline constexpr std::string_view BOTH_PID_OPTIONS = "--exclude-pid e --include-pid são mutuamente exclusivos";
inline constexpr std::string_view NO_TOKEN = "--token é obrigatório";

// Session.
inline constexpr std::string_view CAPTURE_STARTED = "captura iniciada";
inline constexpr std::string_view CAPTURE_START_FAILED = "falha ao iniciar a captura: ";
inline constexpr std::string_view CLIENT_DISCONNECTED = "cliente desconectado";
inline constexpr std::string_view CAPTURE_THREAD_FAILED = "thread de captura: ";
inline constexpr std::string_view CAPTURE_START_TIMED_OUT = "a captura não iniciou a tempo";
inline constexpr std::string_view CAPTURE_ENDED = "captura encerrada";

}  // namespace audio::texts
