#include <string>

#include "os/fs.hpp"

namespace os {

std::string join_path(std::string_view base, std::string_view name) {
    std::string joined(base);
    if (!joined.empty() && joined.back() != '\\' && joined.back() != '/') {
        joined += PATH_SEPARATOR;
    }
    joined += name;
    return joined;
}

std::string parent_path(std::string_view path) {
    std::size_t end = path.size();
    while (end > 0 && !is_path_separator(path[end - 1])) {
        --end;
    }
    if (end == 0) {
        return {};
    }
    // Drop the separators between the folder and the last component, but keep
    // a root such as "/" or "C:\".
    std::size_t folder_end = end;
    while (folder_end > 1 && is_path_separator(path[folder_end - 1]) &&
           !(folder_end >= 2 && path[folder_end - 2] == ':')) {
        --folder_end;
    }
    return std::string(path.substr(0, folder_end));
}

std::string file_name(std::string_view path) {
    std::size_t start = path.size();
    while (start > 0 && !is_path_separator(path[start - 1])) {
        --start;
    }
    return std::string(path.substr(start));
}

}  // namespace os
