#pragma once
// An incremental parser for an HTTP/1.1 request head (RFC 7230 section 3):
// given the bytes received so far it answers "need more bytes", a complete
// head with its length, or a named error as soon as one is visible.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace server {

inline constexpr std::size_t MAX_REQUEST_HEADERS = 124;

enum class HeadError {
    HeaderName,
    HeaderValue,
    NewLine,
    Token,
    Version,
    TooManyHeaders,  // a capacity failure, not a syntax one
};

// "invalid header name", ..., "Too many headers".
[[nodiscard]] std::string_view head_error_text(HeadError error);

struct HttpHeader {
    std::string_view name;
    std::string_view value;  // without surrounding blanks
};

// A complete request head. Its views point into the bytes it was parsed from.
struct RequestHead {
    std::string_view method;
    std::string_view target;
    unsigned minor_version = 1;  // the x of HTTP/1.x
    std::vector<HttpHeader> headers;
    std::size_t length = 0;  // bytes up to and including the empty line
};

// nullopt: the bytes are a valid beginning of a head that is not complete yet.
using HeadParse = std::expected<std::optional<RequestHead>, HeadError>;

[[nodiscard]] HeadParse parse_request_head(std::span<const std::uint8_t> bytes);

// The first header of the name (letter case ignored), if any.
[[nodiscard]] const HttpHeader* find_header(const RequestHead& head, std::string_view name);

// The first header's value when it holds only tabs and visible ASCII (32 to
// 126); a missing header or any other byte gives nullopt.
[[nodiscard]] std::optional<std::string_view> visible_header_value(const RequestHead& head,
                                                                   std::string_view name);

// Whether the target is a valid request target: "*", an origin-form path or
// an absolute URI, made of URI characters only (RFC 3986 section 2).
[[nodiscard]] bool is_valid_request_target(std::string_view target);

// The path and query of a valid target, without any fragment; "/" when empty.
[[nodiscard]] std::string_view target_path_and_query(std::string_view target);

[[nodiscard]] bool equals_ignoring_case(std::string_view a, std::string_view b);

}  // namespace server
