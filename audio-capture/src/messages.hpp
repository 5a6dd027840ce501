#pragma once
// The bytes of the messages the program sends to its client: the JSON
// "format" and "error" texts (audio frames go out as their own bytes).

#include <string>
#include <string_view>

namespace audio {

// {"type":"format","sampleRate":48000,"channels":2,"format":"s16le","frameMs":10,"frameBytes":1920}
[[nodiscard]] std::string format_message();

// {"type":"error","message":...} with the text quoted by quote_json_text.
[[nodiscard]] std::string error_message(std::string_view text);

// The UTF-8 text as a JSON string literal, quotes included. Only the quote and
// the backslash are escaped; each C0 control character becomes one blank, so
// no \n, \t or \u form is ever produced; everything else is copied as it is.
[[nodiscard]] std::string quote_json_text(std::string_view text);

}  // namespace audio
