#include "capture/windows/activation_handler.hpp"

#include <new>

namespace audio::capture::windows {
namespace {

// C callers pass the interface id by pointer, so a null one can arrive even
// though C++ sees a reference. The empty asm keeps the compiler from assuming
// that the address is never null.
bool is_null(const IID& id) {
    const IID* address = &id;
    __asm__("" : "+r"(address));
    return address == nullptr;
}

// Answers IMarshal for the handler by forwarding to a free-threaded
// marshaler made with no outer unknown, so that the handler is never proxied;
// every other interface, IUnknown included, comes from the handler itself.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"  // as for the handler itself
class MarshalForwarder final : public IMarshal {
public:
    MarshalForwarder(ComPtr<IUnknown> handler, ComPtr<IMarshal> marshaler) noexcept
        : handler_(std::move(handler)), marshaler_(std::move(marshaler)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) noexcept override {
        if (object == nullptr || is_null(id)) {
            return E_POINTER;
        }
        if (id == __uuidof(IMarshal)) {
            AddRef();
            *object = static_cast<IMarshal*>(this);
            return S_OK;
        }
        return handler_->QueryInterface(id, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetUnmarshalClass(REFIID id, void* object, DWORD context, void* reserved,
                                                DWORD flags, CLSID* clsid) noexcept override {
        return marshaler_->GetUnmarshalClass(id, object, context, reserved, flags, clsid);
    }
    HRESULT STDMETHODCALLTYPE GetMarshalSizeMax(REFIID id, void* object, DWORD context, void* reserved,
                                                DWORD flags, DWORD* size) noexcept override {
        return marshaler_->GetMarshalSizeMax(id, object, context, reserved, flags, size);
    }
    HRESULT STDMETHODCALLTYPE MarshalInterface(IStream* stream, REFIID id, void* object, DWORD context,
                                               void* reserved, DWORD flags) noexcept override {
        return marshaler_->MarshalInterface(stream, id, object, context, reserved, flags);
    }
    HRESULT STDMETHODCALLTYPE UnmarshalInterface(IStream* stream, REFIID id, void** object) noexcept override {
        return marshaler_->UnmarshalInterface(stream, id, object);
    }
    HRESULT STDMETHODCALLTYPE ReleaseMarshalData(IStream* stream) noexcept override {
        return marshaler_->ReleaseMarshalData(stream);
    }
    HRESULT STDMETHODCALLTYPE DisconnectObject(DWORD reserved) noexcept override {
        return marshaler_->DisconnectObject(reserved);
    }

private:
    ~MarshalForwarder() = default;

    std::atomic<ULONG> references_{1};
    const ComPtr<IUnknown> handler_;
    const ComPtr<IMarshal> marshaler_;
};
#pragma GCC diagnostic pop

HRESULT make_marshal_forwarder(IUnknown* handler, void** object) {
    ComPtr<IUnknown> free_threaded;
    if (HRESULT made = CoCreateFreeThreadedMarshaler(nullptr, free_threaded.put()); FAILED(made)) {
        return made;
    }
    ComPtr<IMarshal> marshaler;
    if (HRESULT found = free_threaded->QueryInterface(__uuidof(IMarshal), marshaler.put_void());
        FAILED(found) || !marshaler) {
        return FAILED(found) ? found : E_NOINTERFACE;
    }
    handler->AddRef();
    auto* forwarder = new (std::nothrow) MarshalForwarder(ComPtr<IUnknown>(handler), std::move(marshaler));
    if (forwarder == nullptr) {
        return E_OUTOFMEMORY;  // the handler's extra reference went with the ComPtr
    }
    *object = static_cast<IMarshal*>(forwarder);
    return S_OK;
}

}  // namespace

std::expected<ComPtr<ActivationHandler>, ComError> ActivationHandler::create() {
    os::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        return std::unexpected(ComError::from_last_error());
    }
    auto* handler = new (std::nothrow) ActivationHandler(std::move(event));
    if (handler == nullptr) {
        return std::unexpected(ComError{E_OUTOFMEMORY, {}});
    }
    return ComPtr<ActivationHandler>(handler);
}

HRESULT ActivationHandler::QueryInterface(REFIID id, void** object) noexcept {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (is_null(id)) {
        return E_POINTER;
    }
    if (id == __uuidof(IUnknown) || id == __uuidof(IInspectable)) {
        *object = static_cast<IInspectable*>(this);
    } else if (id == __uuidof(IActivateAudioInterfaceCompletionHandler)) {
        *object = static_cast<IActivateAudioInterfaceCompletionHandler*>(this);
    } else if (id == __uuidof(IAgileObject)) {
        *object = static_cast<IAgileObject*>(this);
    } else if (id == __uuidof(IMarshal)) {
        return make_marshal_forwarder(static_cast<IInspectable*>(this), object);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG ActivationHandler::AddRef() noexcept { return ++references_; }

ULONG ActivationHandler::Release() noexcept {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;  // closes the event
    }
    return left;
}

HRESULT ActivationHandler::GetIids(ULONG* count, IID** ids) noexcept {
    if (count == nullptr || ids == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    *ids = nullptr;
    return S_OK;
}

HRESULT ActivationHandler::GetRuntimeClassName(HSTRING* name) noexcept {
    if (name == nullptr) {
        return E_POINTER;
    }
    *name = nullptr;
    return S_OK;
}

HRESULT ActivationHandler::GetTrustLevel(TrustLevel* level) noexcept {
    if (level == nullptr) {
        return E_POINTER;
    }
    *level = BaseTrust;
    return S_OK;
}

HRESULT ActivationHandler::ActivateCompleted(IActivateAudioInterfaceAsyncOperation*) noexcept {
    // A failure without an error number converts to S_OK.
    return SetEvent(event_.get()) ? S_OK : ComError::from_last_error().code;
}

}  // namespace audio::capture::windows
