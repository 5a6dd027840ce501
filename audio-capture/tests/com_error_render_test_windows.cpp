// render_com_error with the real system: error information objects, the
// system message table and the shape of the text. System texts differ
// between Windows and Wine, so only their shape is checked.

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "capture/windows/com_error.hpp"

namespace audio::capture::windows {
namespace {

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

ComPtr<IErrorInfo> error_info_with(const wchar_t* description) {
    ComPtr<ICreateErrorInfo> creator;
    EXPECT_EQ(CreateErrorInfo(creator.put()), S_OK);
    EXPECT_EQ(creator->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(creator->QueryInterface(__uuidof(IErrorInfo), info.put_void()), S_OK);
    return info;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// Error information of a newer component: IErrorInfo and IRestrictedErrorInfo.
class RestrictedInfo final : public IErrorInfo, public IRestrictedErrorInfo {
public:
    RestrictedInfo(const wchar_t* plain, const wchar_t* detail, const wchar_t* restricted)
        : plain_(plain), detail_(detail), restricted_(restricted) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (id == __uuidof(IUnknown) || id == __uuidof(IErrorInfo)) {
            *object = static_cast<IErrorInfo*>(this);
        } else if (id == __uuidof(IRestrictedErrorInfo)) {
            *object = static_cast<IRestrictedErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
        *guid = GUID{};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override {
        *source = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override {
        *description = SysAllocString(plain_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* file) override {
        *file = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override {
        *context = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR* description, HRESULT* error, BSTR* restricted,
                                              BSTR* sid) override {
        *description = SysAllocString(detail_);
        *error = E_FAIL;
        *restricted = SysAllocString(restricted_);
        *sid = SysAllocString(L"S-1-0");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetReference(BSTR* reference) override {
        *reference = nullptr;
        return S_OK;
    }

private:
    ~RestrictedInfo() = default;

    std::atomic<ULONG> references_{1};
    const wchar_t* plain_;
    const wchar_t* detail_;
    const wchar_t* restricted_;
};
#pragma GCC diagnostic pop

TEST(RenderComError, ErrorInformationGivesTheMessage) {
    const ComError error{E_FAIL, error_info_with(L"Falhou a a\u00E7\u00E3o \U0001F3A7\r\n\t ")};
    EXPECT_EQ(render_com_error(error), "Falhou a a\xC3\xA7\xC3\xA3o \xF0\x9F\x8E\xA7 (0x80004005)");
}

TEST(RenderComError, EmptyErrorInformationGivesTheBareCode) {
    // E_FAIL has a system message, but error information has the last word.
    const ComError error{E_FAIL, error_info_with(L"")};
    EXPECT_EQ(render_com_error(error), "0x80004005");
}

TEST(RenderComError, PendingErrorInformationIsTakenWithTheCall) {
    ASSERT_EQ(SetErrorInfo(0, error_info_with(L"pendente").get()), S_OK);
    const ComError error = ComError::from_call(E_ACCESSDENIED);
    EXPECT_EQ(render_com_error(error), "pendente (0x80070005)");
    EXPECT_FALSE(take_error_info()) << "taking it clears it";
}

TEST(RenderComError, RestrictedDescriptionComesFirst) {
    struct Case {
        const wchar_t* plain;
        const wchar_t* detail;
        const wchar_t* restricted;
        std::string text;
    };
    const Case cases[] = {
        {L"simples", L"detalhe", L"restrita", "restrita (0x88890004)"},
        {L"simples", L"detalhe", L"", "detalhe (0x88890004)"},
        {L"simples", L"", L"", "simples (0x88890004)"},
        {L"", L"", L"", "0x88890004"},
    };
    for (const auto& c : cases) {
        const ComError error{static_cast<HRESULT>(0x88890004),
                             ComPtr<IErrorInfo>(new RestrictedInfo(c.plain, c.detail, c.restricted))};
        EXPECT_EQ(render_com_error(error), c.text);
    }
}

TEST(RenderComError, SystemMessageThenCode) {
    const std::string text = render_com_error(ComError::from_win32(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(ends_with(text, " (0x80070005)")) << text;
    const std::string message = text.substr(0, text.size() - 13);
    EXPECT_FALSE(message.empty());
    EXPECT_NE(message.back(), ' ');
    EXPECT_EQ(message.find('\r'), std::string::npos);
    EXPECT_EQ(message.find('\n'), std::string::npos);
}

TEST(RenderComError, CodeWithoutAnyMessageStandsAlone) {
    EXPECT_EQ(render_com_error(ComError{static_cast<HRESULT>(0xA0BC0123), {}}), "0xA0BC0123");
}

TEST(RenderComError, NtStatusCodesDoNotFallBackToTheSystemTable) {
    // 0xD0000022 is STATUS_ACCESS_DENIED as an HRESULT; ntdll.dll has its
    // text on Windows and none under Wine. Either way the code closes the text.
    const std::string text = render_com_error(ComError{static_cast<HRESULT>(0xD0000022), {}});
    EXPECT_TRUE(text == "0xD0000022" || ends_with(text, " (0xD0000022)")) << text;
}

TEST(ComError, Win32NumbersBecomeHresults) {
    struct Case {
        DWORD error;
        std::uint32_t code;
    };
    const Case cases[] = {
        {0, 0},
        {2, 0x80070002},
        {5, 0x80070005},
        {10060, 0x8007274C},
        {0x0001ABCD, 0x8007ABCD},  // only the low 16 bits are kept
        {0x80004005, 0x80004005},  // already an HRESULT (negative)
        {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<std::uint32_t>(ComError::from_win32(c.error).code), c.code) << c.error;
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(static_cast<std::uint32_t>(ComError::from_last_error().code), 0x80070008u);
    EXPECT_FALSE(ComError::from_win32(5).info);
}

}  // namespace
}  // namespace audio::capture::windows
