// ActivateAudioInterfaceAsync of the stand-in engine, for the process-loopback
// virtual device only: it checks the device path, the interface and the
// activation parameters, and completes on a thread of its own by calling the
// handler's ActivateCompleted with an operation whose GetActivateResult gives
// the result and the interface. DllMain writes the last report at exit.

#include <atomic>
#include <cstring>
#include <string>

#include "standin_com.hpp"
#include "standin_config.hpp"

namespace standin {
namespace {

constexpr wchar_t PROCESS_LOOPBACK_PATH[] = L"VAD\\Process_Loopback";
constexpr std::uint32_t ACTIVATION_TYPE_PROCESS_LOOPBACK = 1;
constexpr HRESULT ILLEGAL_METHOD_CALL = static_cast<HRESULT>(0x8000000E);  // E_ILLEGAL_METHOD_CALL

// AUDIOCLIENT_ACTIVATION_PARAMS, which MinGW's headers lack.
struct ActivationParams {
    std::uint32_t activation_type;
    std::uint32_t target_pid;
    std::uint32_t loopback_mode;
};
static_assert(sizeof(ActivationParams) == 12);

std::atomic<unsigned> g_activations{0};

}  // namespace
}  // namespace standin

// kernel32 has it; MinGW's headers do not declare it.
extern "C" WINBASEAPI HRESULT WINAPI SetThreadDescription(HANDLE thread, PCWSTR description);

namespace standin {
namespace {

std::string narrow_ascii(const wchar_t* text) {
    std::string result;
    for (; text != nullptr && *text != L'\0'; ++text) {
        result += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return result;
}

std::string mode_name(std::uint32_t mode) {
    return mode == LOOPBACK_INCLUDE ? "include" : mode == LOOPBACK_EXCLUDE ? "exclude" : std::to_string(mode);
}

STANDIN_COM_CLASS_BEGIN
class Operation final : public IActivateAudioInterfaceAsyncOperation, public IAgileObject,
                        Counted<Kind::Operation> {
public:
    // Adopts the activated interface's reference (null when there is none).
    Operation(HRESULT result, IUnknown* activated) : result_(result), activated_(activated) {}

    void mark_completed() noexcept { completed_.store(true); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) noexcept override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (id == __uuidof(IUnknown) || id == __uuidof(IActivateAudioInterfaceAsyncOperation)) {
            *object = static_cast<IActivateAudioInterfaceAsyncOperation*>(this);
        } else if (id == __uuidof(IAgileObject)) {
            *object = static_cast<IAgileObject*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return add_reference(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = drop_reference();
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* result, IUnknown** activated) noexcept override {
        if (result == nullptr || activated == nullptr) {
            violation("GetActivateResult without its out-pointers");
            return E_POINTER;
        }
        *result = S_OK;
        *activated = nullptr;
        if (!completed_.load()) {
            violation("GetActivateResult before the completion");
            return ILLEGAL_METHOD_CALL;
        }
        if (config().result_call_fails) {
            journal("GetActivateResult -> " + hex(*config().result_call_fails));
            return *config().result_call_fails;
        }
        *result = result_;
        if (activated_ != nullptr) {
            activated_->AddRef();
            *activated = activated_;
        }
        journal("GetActivateResult -> 0x00000000, activation " + hex(result_) + " with " +
                (activated_ == nullptr ? "no interface" : kind_));
        return S_OK;
    }

    void describe_interface(const char* kind) { kind_ = kind; }

private:
    ~Operation() {
        if (activated_ != nullptr) activated_->Release();
    }

    const HRESULT result_;
    IUnknown* const activated_;
    const char* kind_ = "an interface";
    std::atomic<bool> completed_{false};  // set by the completing thread before it calls the handler
};
STANDIN_COM_CLASS_END

// What the completing thread needs; it owns one reference to each.
struct Completion {
    IActivateAudioInterfaceCompletionHandler* handler;
    Operation* operation;
    DWORD delay_ms;
};

DWORD WINAPI complete(void* argument) {
    name_this_thread(L"standin-done");
    auto* completion = static_cast<Completion*>(argument);
    if (completion->delay_ms != 0) Sleep(completion->delay_ms);
    completion->operation->mark_completed();
    const HRESULT answered = completion->handler->ActivateCompleted(completion->operation);
    journal("ActivateCompleted -> " + hex(answered));
    completion->handler->Release();
    completion->operation->Release();
    delete completion;
    return 0;
}

// The activation result and interface for a request that passed the checks.
Operation* activate(const ActivationParams& params) {
    const Config& settings = config();
    const unsigned number = ++g_activations;
    if (settings.activation_fails) return new Operation(*settings.activation_fails, nullptr);
    if (settings.second_activation_fails && number == 2) {
        return new Operation(*settings.second_activation_fails, nullptr);
    }
    if (settings.no_interface) return new Operation(S_OK, nullptr);
    if (settings.wrong_interface) {
        auto* operation = new Operation(S_OK, make_plain_object());
        operation->describe_interface("another object");
        return operation;
    }
    IAudioClient* client = make_audio_client(Target{params.target_pid, params.loopback_mode});
    auto* operation = new Operation(S_OK, client);
    operation->describe_interface("IAudioClient");
    return operation;
}

// What is wrong with the request, or an empty text.
std::string check_request(const wchar_t* path, REFIID id, const PROPVARIANT* variant, ActivationParams& params) {
    if (path == nullptr || std::wcscmp(path, PROCESS_LOOPBACK_PATH) != 0) {
        return "device path \"" + narrow_ascii(path) + "\" instead of the process-loopback device";
    }
    if (id != __uuidof(IAudioClient)) return "an interface other than IAudioClient";
    if (variant == nullptr || variant->vt != VT_BLOB || variant->blob.cbSize != sizeof(ActivationParams) ||
        variant->blob.pBlobData == nullptr) {
        return "activation parameters that are not a 12-byte VT_BLOB";
    }
    std::memcpy(&params, variant->blob.pBlobData, sizeof params);
    if (params.activation_type != ACTIVATION_TYPE_PROCESS_LOOPBACK) {
        return "activation type " + std::to_string(params.activation_type);
    }
    if (params.loopback_mode != LOOPBACK_INCLUDE && params.loopback_mode != LOOPBACK_EXCLUDE) {
        return "loopback mode " + std::to_string(params.loopback_mode);
    }
    return {};
}

HRESULT activate_async(const wchar_t* path, REFIID id, PROPVARIANT* variant,
                       IActivateAudioInterfaceCompletionHandler* handler,
                       IActivateAudioInterfaceAsyncOperation** operation_out) {
    if (operation_out == nullptr || handler == nullptr) {
        violation("ActivateAudioInterfaceAsync without a handler or an out-pointer");
        return E_INVALIDARG;
    }
    *operation_out = nullptr;
    ActivationParams params{};
    const std::string wrong = check_request(path, id, variant, params);
    const Config& settings = config();
    HRESULT returned = S_OK;
    if (!wrong.empty()) {
        violation("ActivateAudioInterfaceAsync with " + wrong);
        returned = E_INVALIDARG;
    } else if (settings.activate_call_fails) {
        returned = *settings.activate_call_fails;
    }
    journal("ActivateAudioInterfaceAsync " + narrow_ascii(path) + " pid=" + std::to_string(params.target_pid) +
            " mode=" + mode_name(params.loopback_mode) + " -> " + hex(returned));
    if (returned != S_OK || settings.no_operation) return returned;

    Operation* operation = activate(params);
    operation->AddRef();
    *operation_out = operation;
    if (settings.late_activation_ms) Sleep(LATE_CALL_MS);  // a busy audio service
    handler->AddRef();
    auto* completion = new Completion{handler, operation, settings.late_activation_ms.value_or(0)};
    HANDLE thread = CreateThread(nullptr, 0, &complete, completion, 0, nullptr);
    if (thread == nullptr) {
        violation("the stand-in could not start its completing thread");
        completion->delay_ms = 0;
        complete(completion);
    } else {
        CloseHandle(thread);
    }
    return S_OK;
}

}  // namespace

void name_this_thread(const wchar_t* name) { (void)SetThreadDescription(GetCurrentThread(), name); }

}  // namespace standin

extern "C" HRESULT WINAPI ActivateAudioInterfaceAsync(const WCHAR* path, REFIID id, PROPVARIANT* params,
                                                      IActivateAudioInterfaceCompletionHandler* handler,
                                                      IActivateAudioInterfaceAsyncOperation** operation) {
    return standin::activate_async(path, id, params, handler, operation);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*);

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_DETACH) {
        standin::write_final_report();
    }
    return TRUE;
}
