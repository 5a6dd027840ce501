#include "info_file.hpp"

#include <charconv>
#include <span>

#include "os/fs.hpp"
#include "server/utf8.hpp"
#include "token.hpp"

namespace common {
namespace {

// The longest info text is under 200 bytes; a larger file is not one of ours,
// and reading it whole would let anyone make shutdown read without end.
constexpr std::size_t MAX_INFO_FILE_BYTES = 4096;

constexpr std::string_view PORT_PIECE = "{\"port\":";
constexpr std::string_view TOKEN_PIECE = ",\"token\":\"";
constexpr std::string_view PID_PIECE = "\",\"pid\":";
constexpr std::string_view END_PIECE = "}";

// Takes the fixed piece from the front of the text.
bool take_piece(std::string_view& text, std::string_view piece) {
    if (!text.starts_with(piece)) {
        return false;
    }
    text.remove_prefix(piece.size());
    return true;
}

// Takes a decimal number without leading zeros that fits the type.
template <class Number>
bool take_number(std::string_view& text, Number& number) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    const auto length = static_cast<std::size_t>(stop - text.data());
    if (error != std::errc() || (length > 1 && text.front() == '0')) {
        return false;
    }
    text.remove_prefix(length);
    return true;
}

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
    std::string text(PORT_PIECE);
    text += std::to_string(port);
    text += TOKEN_PIECE;
    text += token;
    text += PID_PIECE;
    text += std::to_string(pid);
    text += END_PIECE;
    return text;
}

std::expected<InfoFields, InfoTextError> parse_info_json(std::string_view text) {
    InfoFields fields;
    if (!take_piece(text, PORT_PIECE)) {
        return std::unexpected(InfoTextError::Layout);
    }
    if (!take_number(text, fields.port)) {
        return std::unexpected(InfoTextError::Port);
    }
    if (!take_piece(text, TOKEN_PIECE)) {
        return std::unexpected(InfoTextError::Layout);
    }
    fields.token = text.substr(0, text.find('"'));
    if (!validate_token(fields.token)) {
        return std::unexpected(InfoTextError::Token);
    }
    text.remove_prefix(fields.token.size());
    if (!take_piece(text, PID_PIECE)) {
        return std::unexpected(InfoTextError::Layout);
    }
    if (!take_number(text, fields.pid)) {
        return std::unexpected(InfoTextError::Pid);
    }
    if (text != END_PIECE) {
        return std::unexpected(InfoTextError::Layout);
    }
    return fields;
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
