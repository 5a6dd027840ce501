#include "capture/windows/com_error.hpp"

#include <string_view>

#include "os/error.hpp"
#include "os/text.hpp"
#include "os/windows/wide_text.hpp"

namespace audio::capture::windows {
namespace {

// Owns a BSTR handed out by a COM call.
class OwnedBstr {
public:
    OwnedBstr() = default;
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    ~OwnedBstr() { SysFreeString(value_); }

    BSTR* out() { return &value_; }
    [[nodiscard]] std::string text() const { return os::to_utf8(std::wstring_view(value_, SysStringLen(value_))); }

private:
    BSTR value_ = nullptr;
};

// The message of an error-information object: the restricted description of
// IRestrictedErrorInfo when it has one, else its description, else
// IErrorInfo's description. Possibly empty.
std::string message_from_error_info(IErrorInfo& info) {
    std::string text;
    ComPtr<IRestrictedErrorInfo> restricted;
    if (SUCCEEDED(info.QueryInterface(__uuidof(IRestrictedErrorInfo), restricted.put_void())) && restricted) {
        OwnedBstr description;
        OwnedBstr restricted_description;
        OwnedBstr capability_sid;
        HRESULT detail_code = S_OK;
        if (SUCCEEDED(restricted->GetErrorDetails(description.out(), &detail_code, restricted_description.out(),
                                                  capability_sid.out()))) {
            text = restricted_description.text();
            if (text.empty()) {
                text = description.text();
            }
        }
    }
    if (text.empty()) {
        OwnedBstr description;
        if (SUCCEEDED(info.GetDescription(description.out()))) {
            text = description.text();
        }
    }
    return std::string(os::trim_trailing_blanks(text));
}

}  // namespace

ComPtr<IErrorInfo> take_error_info() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK) {
        info.reset();
    }
    return info;
}

ComError ComError::from_call(HRESULT code) { return ComError{code, take_error_info()}; }

ComError ComError::from_win32(DWORD error) { return ComError{HRESULT_FROM_WIN32(error), {}}; }

std::string render_com_error(const ComError& error) {
    const auto code = static_cast<std::uint32_t>(error.code);
    // With error information its message stands, even when empty.
    const std::string message =
        error.info ? message_from_error_info(*error.info.get()) : os::system_message(error.code);
    return os::message_with_code(message, os::hex_text(code, 8));
}

}  // namespace audio::capture::windows
