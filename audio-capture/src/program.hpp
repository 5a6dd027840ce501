#pragma once

namespace audio {

// Exit statuses of the program.
inline constexpr int EXIT_BAD_COMMAND_LINE = 2;
inline constexpr int EXIT_PROCESS_NOT_OPENED = 3;
inline constexpr int EXIT_BIND_FAILED = 4;
inline constexpr int EXIT_INFO_FILE_FAILED = 5;

inline constexpr int LISTEN_BACKLOG = 128;

// The program: start-up, then the accept loop; ends only by exiting.
[[noreturn]] void run_program();

}  // namespace audio
