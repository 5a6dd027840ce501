#include "server/http_request.hpp"

#include "panic.hpp"
#include "server/websocket_texts.hpp"

namespace server {

namespace {

bool is_tchar(std::uint8_t b) {
    if ((b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z')) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(b)) != std::string_view::npos;
}

// Bytes the request line may carry in its target; finer checks come after
// parsing (is_valid_request_target).
bool is_target_byte(std::uint8_t b) {
    return (b >= 0x21 && b <= 0x7E && b != '"' && b != '<' && b != '>') || b >= 0x80;
}

// Field content: tab, visible ASCII, blank and obs-text (RFC 7230 section 3.2).
bool is_value_byte(std::uint8_t b) {
    return b == '\t' || (b >= 0x20 && b != 0x7F);
}

bool is_blank(std::uint8_t b) {
    return b == ' ' || b == '\t';
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Walks the bytes once. Each step either advances, reports that the bytes ran
// out (Partial) or names the error.
class Scanner {
public:
    explicit Scanner(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    [[nodiscard]] bool at_end() const { return pos_ >= bytes_.size(); }
    [[nodiscard]] std::uint8_t peek() const { return bytes_[pos_]; }
    [[nodiscard]] std::size_t pos() const { return pos_; }
    void advance() { ++pos_; }

    [[nodiscard]] std::string_view view(std::size_t from, std::size_t to) const {
        return {reinterpret_cast<const char*>(bytes_.data()) + from, to - from};
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

enum class Step { Done, Partial, Failed };

struct Parser {
    Scanner s;
    HeadError error = HeadError::Token;

    Step fail(HeadError e) {
        error = e;
        return Step::Failed;
    }

    // CR LF or a bare LF; anything else is the given error.
    Step line_end(HeadError on_error) {
        if (s.at_end()) {
            return Step::Partial;
        }
        if (s.peek() == '\n') {
            s.advance();
            return Step::Done;
        }
        if (s.peek() != '\r') {
            return fail(on_error);
        }
        s.advance();
        if (s.at_end()) {
            return Step::Partial;
        }
        if (s.peek() != '\n') {
            return fail(on_error);
        }
        s.advance();
        return Step::Done;
    }

    // RFC 7230 section 3.5: empty lines before the request line are ignored.
    Step skip_empty_lines() {
        while (!s.at_end() && (s.peek() == '\r' || s.peek() == '\n')) {
            if (Step st = line_end(HeadError::NewLine); st != Step::Done) {
                return st;
            }
        }
        return s.at_end() ? Step::Partial : Step::Done;
    }

    Step method(std::string_view& out) { return word_then_blank(out, is_tchar); }

    Step target(std::string_view& out) { return word_then_blank(out, is_target_byte); }

    // A non-empty run of accepted bytes followed by one blank.
    Step word_then_blank(std::string_view& out, bool (*accepted)(std::uint8_t)) {
        const std::size_t start = s.pos();
        while (!s.at_end() && accepted(s.peek())) {
            s.advance();
        }
        if (s.at_end()) {
            return Step::Partial;
        }
        if (s.pos() == start || s.peek() != ' ') {
            return fail(HeadError::Token);
        }
        out = s.view(start, s.pos());
        s.advance();
        return Step::Done;
    }

    Step version(unsigned& minor) {
        for (const char expected : std::string_view("HTTP/1.")) {
            if (s.at_end()) {
                return Step::Partial;
            }
            if (s.peek() != static_cast<std::uint8_t>(expected)) {
                return fail(HeadError::Version);
            }
            s.advance();
        }
        if (s.at_end()) {
            return Step::Partial;
        }
        if (s.peek() != '0' && s.peek() != '1') {
            return fail(HeadError::Version);
        }
        minor = s.peek() == '1' ? 1 : 0;
        s.advance();
        return line_end(HeadError::NewLine);
    }

    Step header(HttpHeader& out) {
        const std::size_t name_start = s.pos();
        while (!s.at_end() && is_tchar(s.peek())) {
            s.advance();
        }
        if (s.at_end()) {
            return Step::Partial;
        }
        if (s.pos() == name_start || s.peek() != ':') {
            return fail(HeadError::HeaderName);
        }
        out.name = s.view(name_start, s.pos());
        s.advance();
        while (!s.at_end() && is_blank(s.peek())) {
            s.advance();
        }
        const std::size_t value_start = s.pos();
        while (!s.at_end() && is_value_byte(s.peek())) {
            s.advance();
        }
        std::size_t value_end = s.pos();
        if (Step st = line_end(HeadError::HeaderValue); st != Step::Done) {
            return st;
        }
        std::string_view value = s.view(value_start, value_end);
        while (!value.empty() && is_blank(static_cast<std::uint8_t>(value.back()))) {
            value.remove_suffix(1);
        }
        out.value = value;
        return Step::Done;
    }
};

}  // namespace

std::string_view head_error_text(HeadError error) {
    switch (error) {
    case HeadError::HeaderName:
        return texts::PARSE_HEADER_NAME;
    case HeadError::HeaderValue:
        return texts::PARSE_HEADER_VALUE;
    case HeadError::NewLine:
        return texts::PARSE_NEW_LINE;
    case HeadError::Token:
        return texts::PARSE_TOKEN;
    case HeadError::Version:
        return texts::PARSE_VERSION;
    case HeadError::TooManyHeaders:
        return texts::TOO_MANY_HEADERS;
    }
    common::panic("HeadError with an unknown value");
}

HeadParse parse_request_head(std::span<const std::uint8_t> bytes) {
    Parser p{Scanner(bytes)};
    RequestHead head;
    auto outcome = [&](Step st) -> HeadParse {
        if (st == Step::Failed) {
            return std::unexpected(p.error);
        }
        return std::nullopt;
    };

    if (Step st = p.skip_empty_lines(); st != Step::Done) {
        return outcome(st);
    }
    if (Step st = p.method(head.method); st != Step::Done) {
        return outcome(st);
    }
    if (Step st = p.target(head.target); st != Step::Done) {
        return outcome(st);
    }
    if (Step st = p.version(head.minor_version); st != Step::Done) {
        return outcome(st);
    }
    for (;;) {
        if (p.s.at_end()) {
            return std::nullopt;
        }
        if (p.s.peek() == '\r' || p.s.peek() == '\n') {
            if (Step st = p.line_end(HeadError::NewLine); st != Step::Done) {
                return outcome(st);
            }
            head.length = p.s.pos();
            return head;
        }
        if (head.headers.size() == MAX_REQUEST_HEADERS) {
            return std::unexpected(HeadError::TooManyHeaders);
        }
        HttpHeader header;
        if (Step st = p.header(header); st != Step::Done) {
            return outcome(st);
        }
        head.headers.push_back(header);
    }
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

const HttpHeader* find_header(const RequestHead& head, std::string_view name) {
    for (const HttpHeader& header : head.headers) {
        if (equals_ignoring_case(header.name, name)) {
            return &header;
        }
    }
    return nullptr;
}

std::optional<std::string_view> visible_header_value(const RequestHead& head, std::string_view name) {
    const HttpHeader* header = find_header(head, name);
    if (header == nullptr) {
        return std::nullopt;
    }
    for (const char c : header->value) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b != '\t' && (b < 32 || b > 126)) {
            return std::nullopt;
        }
    }
    return header->value;
}

namespace {

bool is_uri_char(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return true;
    }
    // unreserved, gen-delims, sub-delims and the percent sign.
    return std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

// The length of "scheme://" at the start of the target, or 0.
std::size_t absolute_prefix(std::string_view target) {
    std::size_t i = 0;
    while (i < target.size()) {
        const char c = target[i];
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!(alpha || (i > 0 && other))) {
            break;
        }
        ++i;
    }
    if (i > 0 && target.substr(i, 3) == "://") {
        return i + 3;
    }
    return 0;
}

}  // namespace

bool is_valid_request_target(std::string_view target) {
    if (target.empty()) {
        return false;
    }
    for (const char c : target) {
        if (!is_uri_char(c)) {
            return false;
        }
    }
    return target == "*" || target.front() == '/' || absolute_prefix(target) > 0;
}

std::string_view target_path_and_query(std::string_view target) {
    if (const std::size_t prefix = absolute_prefix(target); prefix > 0) {
        const std::size_t path = target.find_first_of("/?#", prefix);
        target = (path == std::string_view::npos) ? std::string_view() : target.substr(path);
    }
    target = target.substr(0, target.find('#'));
    return target.empty() ? std::string_view("/") : target;
}

}  // namespace server
