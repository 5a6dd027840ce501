#pragma once
// The completion object of an asynchronous process-loopback activation.

#include <atomic>
#include <expected>

#include "capture/windows/audio_declarations.hpp"
#include "capture/windows/com_error.hpp"
#include "capture/windows/com_ptr.hpp"
#include "os/windows/unique_handle.hpp"

namespace audio::capture::windows {

// Signals its completion event when the system reports the activation done.
// Agile and free-threaded, so the system may call it on any thread.
//
// The handler owns the event and closes it when its last reference goes.
// The activating code waits on completion_event() only while it holds a
// reference, so a completion that comes after the activating code gave up
// (the system keeps its own reference until then) still signals a live
// event that nobody waits on any more, never a closed or reused handle.
//
// (COM objects end through their own Release, never by delete through an
// interface pointer, so the interfaces need no virtual destructor.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ActivationHandler final : public IInspectable,
                                public IActivateAudioInterfaceCompletionHandler,
                                public IAgileObject {
public:
    // A handler with a fresh completion event (manual reset, not signalled)
    // and one reference, the caller's. Fails as CreateEventW.
    [[nodiscard]] static std::expected<ComPtr<ActivationHandler>, ComError> create();

    // Valid while the caller holds a reference.
    [[nodiscard]] HANDLE completion_event() const noexcept { return event_.get(); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    // IInspectable
    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** ids) noexcept override;
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) noexcept override;
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) noexcept override;

    // IActivateAudioInterfaceCompletionHandler
    HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) noexcept override;

private:
    explicit ActivationHandler(os::UniqueHandle event) noexcept : event_(std::move(event)) {}
    ~ActivationHandler() = default;

    std::atomic<ULONG> references_{1};
    const os::UniqueHandle event_;  // owned; written once, read from any thread
};
#pragma GCC diagnostic pop

}  // namespace audio::capture::windows
