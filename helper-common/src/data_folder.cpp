#include "data_folder.hpp"

#include "os/fs.hpp"

namespace common {

std::string resolve_data_folder() {
    // An undefined APPDATA behaves like an empty one: the folders become
    // relative to the working directory.
    const std::string base = os::get_env("APPDATA").value_or("");
    std::string new_folder = os::join_path(base, DATA_FOLDER_NAME);
    std::string old_folder = os::join_path(base, OLD_DATA_FOLDER_NAME);
    if (os::is_directory(old_folder) && !os::path_exists(os::join_path(new_folder, MIGRATED_MARKER_NAME))) {
        return old_folder;
    }
    return new_folder;
}

}  // namespace common
