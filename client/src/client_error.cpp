#include "client/client_error.hpp"

namespace client {

std::string ClientError::text() const {
    switch (kind_) {
    case ClientErrorKind::Connect:
        return "connect: " + detail_;
    case ClientErrorKind::Send:
        return "send: " + detail_;
    case ClientErrorKind::Receive:
        return "receive: " + detail_;
    case ClientErrorKind::Closed:
        return "closed";
    case ClientErrorKind::TimedOut:
        return "timed out";
    case ClientErrorKind::UnexpectedAnswer:
        return "unexpected answer: " + detail_;
    }
    return "unknown client error";
}

}  // namespace client
