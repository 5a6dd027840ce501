#include "info_file.hpp"

#include <span>

#include "os/fs.hpp"
#include "server/utf8.hpp"

namespace common {
namespace {

// The longest info text is under 200 bytes; a larger file is not one of ours,
// and reading it whole would let anyone make shutdown read without end.
constexpr std::size_t MAX_INFO_FILE_BYTES = 4096;

}  // namespace

std::string temporary_path_for(std::string_view info_path) {
    const std::string name = os::file_name(info_path);
    const std::string_view folder = info_path.substr(0, info_path.size() - name.size());
    const auto dot = name.rfind('.');
    // A dot that is not the first character starts the extension; "..",
    // ".hidden" and names without a dot get ".json.tmp" appended.
    if (dot != std::string::npos && dot != 0 && name != "..") {
        return std::string(folder) + name.substr(0, dot + 1) + "json.tmp";
    }
    return std::string(folder) + name + ".json.tmp";
}

std::string format_info_json(std::uint16_t port, std::string_view token, std::uint32_t pid) {
    std::string text = "{\"port\":";
    text += std::to_string(port);
    text += ",\"token\":\"";
    text += token;
    text += "\",\"pid\":";
    text += std::to_string(pid);
    text += "}";
    return text;
}

os::Result<void> write_info_file(std::string_view path, std::string_view text) {
    if (const std::string folder = os::parent_path(path); !folder.empty()) {
        if (auto made = os::create_directories(folder); !made) {
            return made;
        }
    }
    return os::publish_file(temporary_path_for(path), path, text);
}

bool is_own_info_file(std::string_view path, std::string_view token) {
    auto content = os::read_small_file(path, MAX_INFO_FILE_BYTES);
    if (!content) {
        return false;
    }
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(content->data()), content->size());
    return server::validate_utf8(bytes).has_value() && content->find(token) != std::string::npos;
}

}  // namespace common
