#include <string>
#include <system_error>

#include "os/error.hpp"
#include "os/text.hpp"

namespace os {

std::string SysError::text() const {
    if (fixed_text != nullptr) {
        return fixed_text;
    }
    // The system's table knows only the system's own numbers: on Windows,
    // errno 11 would read as "incorrect format" there.
    const std::string message =
        domain == ErrorDomain::CRuntime ? std::generic_category().message(code) : system_message(code);
    return message_with_code(message, "os error " + std::to_string(code));
}

}  // namespace os
