#include "os/fs.hpp"

namespace os {

const char PATH_SEPARATOR = '\\';

bool is_path_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace os
