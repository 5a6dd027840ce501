#pragma once
// Log texts written by the shared control code, exactly as written.

#include <string_view>

namespace common::texts {

inline constexpr std::string_view SHUTTING_DOWN = "encerrando: ";
inline constexpr std::string_view IDLE_LIMIT_PASSED = "sem cliente além do limite";
inline constexpr std::string_view CONNECTION_ENDED = "conexão encerrada: ";
inline constexpr const char* CLIENT_THREAD_NAME = "cliente";
inline constexpr const char* WATCHDOG_THREAD_NAME = "vigia";

}  // namespace common::texts
