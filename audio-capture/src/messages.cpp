#include "messages.hpp"

#include "protocol/stream_format.hpp"

namespace audio {
namespace {

constexpr std::string_view ERROR_MESSAGE_PREFIX = R"({"type":"error","message":)";

}  // namespace

std::string format_message() {
    using namespace protocol;
    std::string text = R"({"type":"format","sampleRate":)";
    text += std::to_string(SAMPLE_RATE);
    text += R"(,"channels":)";
    text += std::to_string(CHANNELS);
    text += R"(,"format":")";
    text += SAMPLE_FORMAT;
    text += R"(","frameMs":)";
    text += std::to_string(FRAME_MS);
    text += R"(,"frameBytes":)";
    text += std::to_string(FRAME_BYTES);
    text += '}';
    return text;
}

std::string error_message(std::string_view text) {
    std::string message(ERROR_MESSAGE_PREFIX);
    message += quote_json_text(text);
    message += '}';
    return message;
}

std::string quote_json_text(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    // Byte by byte is enough: every byte of a multi-byte UTF-8 sequence is at
    // least 0x80, so only ASCII bytes can be a quote, a backslash or a control.
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            quoted += ' ';
        } else {
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

}  // namespace audio
