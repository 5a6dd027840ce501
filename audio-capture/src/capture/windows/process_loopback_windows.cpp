#include "capture/windows/process_loopback.hpp"

#include <string_view>

#include "capture/activation_request.hpp"
#include "capture/capture_texts.hpp"
#include "capture/stream_settings.hpp"
#include "capture/windows/activation_handler.hpp"
#include "capture/windows/com_error.hpp"

namespace audio::capture::windows {
namespace {

std::unexpected<std::string> failure(std::string_view prefix, const ComError& error) {
    std::string text(prefix);
    text += render_com_error(error);
    return std::unexpected(std::move(text));
}

}  // namespace

std::expected<ComPtr<IAudioClient>, std::string> activate_process_loopback(CaptureMode mode,
                                                                           std::uint32_t target_pid) {
    // The request and its PROPVARIANT live on this stack for the whole call.
    const ActivationRequest request = make_activation_request(mode, target_pid);
    AUDIOCLIENT_ACTIVATION_PARAMS params{};
    params.ActivationType = static_cast<AUDIOCLIENT_ACTIVATION_TYPE>(request.activation_type);
    params.ProcessLoopbackParams.TargetProcessId = request.target_pid;
    params.ProcessLoopbackParams.ProcessLoopbackMode = static_cast<PROCESS_LOOPBACK_MODE>(request.loopback_mode);
    PROPVARIANT variant{};
    variant.vt = VT_BLOB;
    variant.blob.cbSize = sizeof(params);
    variant.blob.pBlobData = reinterpret_cast<BYTE*>(&params);

    // Locals are released in reverse: the unknown, the operation, then the
    // handler (with its event, once the system has let go of it too).
    auto handler = ActivationHandler::create();
    if (!handler) {
        return failure(CREATE_EVENT_PREFIX, handler.error());
    }

    ComPtr<IActivateAudioInterfaceAsyncOperation> operation;
    const HRESULT requested = ActivateAudioInterfaceAsync(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK,
                                                          __uuidof(IAudioClient), &variant, handler->get(),
                                                          operation.put());
    if (FAILED(requested)) {
        return failure(ACTIVATE_ASYNC_PREFIX, ComError::from_call(requested));
    }
    if (!operation) {
        return failure(ACTIVATE_ASYNC_PREFIX, ComError{});
    }

    if (WaitForSingleObject((*handler)->completion_event(), ACTIVATION_TIMEOUT_MS) != WAIT_OBJECT_0) {
        return std::unexpected(std::string(ACTIVATION_TIMED_OUT));
    }

    HRESULT activation_result = S_OK;
    ComPtr<IUnknown> activated;
    const HRESULT fetched = operation->GetActivateResult(&activation_result, activated.put());
    ComPtr<IErrorInfo> info = take_error_info();
    if (FAILED(fetched)) {
        return failure(GET_ACTIVATE_RESULT_PREFIX, ComError{fetched, std::move(info)});
    }
    if (FAILED(activation_result)) {
        return failure(ACTIVATION_FAILED_PREFIX, ComError{activation_result, std::move(info)});
    }
    if (!activated) {
        return std::unexpected(std::string(ACTIVATION_WITHOUT_INTERFACE));
    }

    ComPtr<IAudioClient> client;
    const HRESULT queried = activated->QueryInterface(__uuidof(IAudioClient), client.put_void());
    if (FAILED(queried)) {
        return failure(AUDIO_CLIENT_PREFIX, ComError::from_call(queried));
    }
    if (!client) {
        return failure(AUDIO_CLIENT_PREFIX, ComError{E_POINTER, {}});
    }
    return client;
}

}  // namespace audio::capture::windows
