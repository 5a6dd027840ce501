#include "capture/windows/com_error.hpp"

#include <string_view>

#include "capture/com_error_text.hpp"

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
    [[nodiscard]] std::u16string text() const { return copy_utf16(value_, SysStringLen(value_)); }

    static std::u16string copy_utf16(const wchar_t* text, std::size_t length) {
        // wchar_t is 16 bits on Windows; copy unit by unit rather than alias the types.
        std::u16string copy(length, u'\0');
        for (std::size_t i = 0; i < length; ++i) {
            copy[i] = static_cast<char16_t>(text[i]);
        }
        return copy;
    }

private:
    BSTR value_ = nullptr;
};

std::string to_message(std::u16string_view text) { return utf16_to_utf8(trim_trailing_space(text)); }

// The message of an error-information object: the restricted description of
// IRestrictedErrorInfo when it has one, else its description, else
// IErrorInfo's description. Possibly empty.
std::string message_from_error_info(IErrorInfo& info) {
    std::u16string text;
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
    return to_message(text);
}

std::string system_message(std::uint32_t code) {
    const SystemMessageLookup lookup = system_message_lookup(code);
    HMODULE source = nullptr;
    if (lookup.from_ntdll) {
        source = LoadLibraryExA("ntdll.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        if (source == nullptr) {
            return {};
        }
    }
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(lookup.flags, source, lookup.message_id, 0,
                                        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string message;
    if (length != 0 && buffer != nullptr) {
        message = to_message(OwnedBstr::copy_utf16(buffer, length));
    }
    LocalFree(buffer);
    if (source != nullptr) {
        FreeLibrary(source);
    }
    return message;
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

ComError ComError::from_win32(DWORD error) {
    return ComError{static_cast<HRESULT>(hresult_from_win32(error)), {}};
}

std::string render_com_error(const ComError& error) {
    const auto code = static_cast<std::uint32_t>(error.code);
    // With error information its message stands, even when empty.
    const std::string message = error.info ? message_from_error_info(*error.info.get()) : system_message(code);
    return compose_com_error_text(message, code);
}

}  // namespace audio::capture::windows
