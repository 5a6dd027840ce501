#pragma once

#include <string>
#include <utility>

namespace client {

enum class ClientErrorKind {
    Connect,           // the loopback connection could not be made
    Send,              // a write failed
    Receive,           // a read, or setting its time limit, failed
    Closed,            // the server ended the connection first
    TimedOut,          // nothing complete arrived within the time
    UnexpectedAnswer,  // the handshake's answer was not the 101 response
};

// What went wrong for the client; `detail` is the system's text or the
// unexpected answer.
class ClientError {
public:
    explicit ClientError(ClientErrorKind kind, std::string detail = {}) : kind_(kind), detail_(std::move(detail)) {}

    [[nodiscard]] ClientErrorKind kind() const { return kind_; }
    // "closed", "timed out", or the step followed by the detail
    // ("connect: …", "unexpected answer: …").
    [[nodiscard]] std::string text() const;

private:
    ClientErrorKind kind_;
    std::string detail_;
};

}  // namespace client
