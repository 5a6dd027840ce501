#include "info_file.hpp"

#include "os/fs.hpp"

namespace common {

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
    const std::string temporary = temporary_path_for(path);
    if (auto written = os::write_private_file(temporary, text); !written) {
        return written;
    }
    return os::replace_file(temporary, path);
}

bool is_valid_utf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        unsigned min_second = 0x80;
        unsigned max_second = 0xBF;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) min_second = 0xA0;  // no overlong forms
            if (lead == 0xED) max_second = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) min_second = 0x90;  // no overlong forms
            if (lead == 0xF4) max_second = 0x8F;  // nothing above U+10FFFF
        } else {
            return false;
        }
        if (bytes.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(bytes[i + k]);
            const unsigned low = k == 1 ? min_second : 0x80;
            const unsigned high = k == 1 ? max_second : 0xBF;
            if (byte < low || byte > high) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

bool is_own_info_file(std::string_view path, std::string_view token) {
    auto content = os::read_file(path);
    return content && is_valid_utf8(*content) && content->find(token) != std::string::npos;
}

}  // namespace common
