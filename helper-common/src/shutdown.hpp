#pragma once

#include <string_view>

#include "log_function.hpp"

namespace common {

// Ends the program normally: logs "encerrando: {reason}", deletes the info
// file while it still holds this instance's token, exits with status 0.
// Only the first caller does any of that; a later one just exits.
[[noreturn]] void shutdown(std::string_view info_path, std::string_view token, std::string_view reason,
                           LogFunction log);

}  // namespace common
