// IAudioClient and IAudioCaptureClient of the stand-in process-loopback
// device. The client takes only what that device takes: shared mode, the
// loopback and event-callback flags (plus the engine-conversion flags), no
// periodicity and the one stream format; everything else is answered as an
// error and kept in the report as a violation.

#include <algorithm>
#include <mutex>

#include "standin_com.hpp"
#include "standin_stream.hpp"

namespace standin {
namespace {

constexpr DWORD LOOPBACK = 0x00020000;             // AUDCLNT_STREAMFLAGS_LOOPBACK
constexpr DWORD EVENT_CALLBACK = 0x00040000;       // AUDCLNT_STREAMFLAGS_EVENTCALLBACK
constexpr DWORD AUTOCONVERT_PCM = 0x80000000;      // AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM
constexpr DWORD SRC_DEFAULT_QUALITY = 0x08000000;  // AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY
constexpr DWORD ALLOWED_FLAGS = LOOPBACK | EVENT_CALLBACK | AUTOCONVERT_PCM | SRC_DEFAULT_QUALITY;

std::string describe(const WAVEFORMATEX* format) {
    if (format == nullptr) return "no format";
    std::string text = format->wFormatTag == WAVE_FORMAT_PCM ? "PCM" : "tag " + std::to_string(format->wFormatTag);
    text += " " + std::to_string(format->nChannels) + " ch " + std::to_string(format->nSamplesPerSec) + " Hz " +
            std::to_string(format->wBitsPerSample) + " bit";
    if (format->nBlockAlign != format->nChannels * format->wBitsPerSample / 8 ||
        format->nAvgBytesPerSec != format->nSamplesPerSec * format->nBlockAlign) {
        text += " (block " + std::to_string(format->nBlockAlign) + ", " + std::to_string(format->nAvgBytesPerSec) +
                " B/s)";
    }
    return text;
}

bool is_stream_format(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM && format.nChannels == 2 && format.nSamplesPerSec == 48000 &&
           format.wBitsPerSample == 16 && format.nBlockAlign == 4 && format.nAvgBytesPerSec == 192000;
}

// A misuse: kept in the report, answered with `code`.
HRESULT refuse(HRESULT code, const std::string& what) {
    violation(what);
    return code;
}

class AudioClient;

STANDIN_COM_CLASS_BEGIN
class CaptureClient final : public IAudioCaptureClient, Counted<Kind::CaptureClient> {
public:
    CaptureClient(IAudioClient* owner, Stream& stream) : owner_(owner), stream_(stream) { owner_->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) noexcept override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (id != __uuidof(IUnknown) && id != __uuidof(IAudioCaptureClient)) return E_NOINTERFACE;
        *object = static_cast<IAudioCaptureClient*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return add_reference(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = drop_reference();
        if (left == 0) {
            journal("IAudioCaptureClient released");
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position,
                                        UINT64* counter) noexcept override {
        return stream_.get_buffer(data, frames, flags, position, counter);
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) noexcept override { return stream_.release_buffer(frames); }
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) noexcept override {
        return stream_.next_packet_size(frames);
    }

private:
    ~CaptureClient() { owner_->Release(); }

    IAudioClient* const owner_;  // one reference, for the capture client's life
    Stream& stream_;             // the owner's
};

class AudioClient final : public IAudioClient, Counted<Kind::AudioClient> {
public:
    explicit AudioClient(Target target) : config_(config()), stream_(target, config_) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) noexcept override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (id != __uuidof(IUnknown) && id != __uuidof(IAudioClient)) return E_NOINTERFACE;
        *object = static_cast<IAudioClient*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return add_reference(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = drop_reference();
        if (left == 0) {
            if (started_) journal("IAudioClient released while started");
            stream_.stop();
            if (config_.slow_release_ms != 0) Sleep(config_.slow_release_ms);
            journal("IAudioClient released");
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE share, DWORD flags, REFERENCE_TIME buffer,
                                         REFERENCE_TIME period, const WAVEFORMATEX* format,
                                         LPCGUID session) noexcept override {
        std::lock_guard guard(lock_);
        const HRESULT result = initialize(share, flags, buffer, period, format);
        journal("IAudioClient::Initialize " + std::string(share == AUDCLNT_SHAREMODE_SHARED ? "shared" : "exclusive") +
                " " + hex(static_cast<HRESULT>(flags)) + " " + std::to_string(buffer) + " " + std::to_string(period) +
                " " + describe(format) + (session != nullptr ? " with a session" : "") + " -> " + hex(result));
        return result;
    }

    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) noexcept override {
        std::lock_guard guard(lock_);
        HRESULT result = S_OK;
        if (!initialized_) {
            result = refuse(AUDCLNT_E_NOT_INITIALIZED, "SetEventHandle before Initialize");
        } else if ((flags_ & EVENT_CALLBACK) == 0) {
            result = refuse(AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED, "SetEventHandle without the event-callback flag");
        } else if (event == nullptr || event == INVALID_HANDLE_VALUE) {
            result = refuse(E_INVALIDARG, "SetEventHandle without an event");
        } else {
            event_ = event;
        }
        journal("IAudioClient::SetEventHandle -> " + hex(result));
        return result;
    }

    HRESULT STDMETHODCALLTYPE GetService(REFIID id, void** object) noexcept override {
        if (object == nullptr) return refuse(E_POINTER, "GetService without an out-pointer");
        *object = nullptr;
        std::lock_guard guard(lock_);
        const bool capture = id == __uuidof(IAudioCaptureClient);
        HRESULT result = S_OK;
        if (!initialized_) {
            result = refuse(AUDCLNT_E_NOT_INITIALIZED, "GetService before Initialize");
        } else if (!capture) {
            result = E_NOINTERFACE;
        } else if (config_.capture_client_fails) {
            result = *config_.capture_client_fails;
        } else if (!config_.capture_client_missing) {
            *object = static_cast<IAudioCaptureClient*>(new CaptureClient(this, stream_));
        }
        journal(std::string("IAudioClient::GetService ") + (capture ? "IAudioCaptureClient" : "another interface") +
                " -> " + hex(result));
        return result;
    }

    HRESULT STDMETHODCALLTYPE Start() noexcept override {
        std::lock_guard guard(lock_);
        HRESULT result = S_OK;
        if (!initialized_) {
            result = refuse(AUDCLNT_E_NOT_INITIALIZED, "Start before Initialize");
        } else if (event_ == nullptr) {
            result = refuse(AUDCLNT_E_EVENTHANDLE_NOT_SET, "Start before SetEventHandle");
        } else if (started_) {
            result = refuse(AUDCLNT_E_NOT_STOPPED, "Start on a started stream");
        } else if (config_.start_fails) {
            result = *config_.start_fails;
        } else if (!stream_.start(event_)) {
            result = E_OUTOFMEMORY;
        } else {
            started_ = true;
        }
        journal("IAudioClient::Start -> " + hex(result));
        return result;
    }

    HRESULT STDMETHODCALLTYPE Stop() noexcept override {
        if (config_.slow_stop_ms != 0) Sleep(config_.slow_stop_ms);
        std::lock_guard guard(lock_);
        HRESULT result = S_FALSE;  // not started
        if (!initialized_) {
            result = refuse(AUDCLNT_E_NOT_INITIALIZED, "Stop before Initialize");
        } else if (started_) {
            stream_.stop();
            started_ = false;
            result = S_OK;
        }
        journal("IAudioClient::Stop -> " + hex(result));
        return result;
    }

    HRESULT STDMETHODCALLTYPE Reset() noexcept override {
        std::lock_guard guard(lock_);
        const HRESULT result = !initialized_ ? AUDCLNT_E_NOT_INITIALIZED : started_ ? AUDCLNT_E_NOT_STOPPED : S_OK;
        journal("IAudioClient::Reset -> " + hex(result));
        return result;
    }

    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) noexcept override {
        if (frames == nullptr) return refuse(E_POINTER, "GetBufferSize without an out-pointer");
        std::lock_guard guard(lock_);
        if (!initialized_) return refuse(AUDCLNT_E_NOT_INITIALIZED, "GetBufferSize before Initialize");
        *frames = buffer_frames_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) noexcept override {
        if (frames == nullptr) return refuse(E_POINTER, "GetCurrentPadding without an out-pointer");
        std::lock_guard guard(lock_);
        if (!initialized_) return refuse(AUDCLNT_E_NOT_INITIALIZED, "GetCurrentPadding before Initialize");
        *frames = stream_.queued_frames();
        return S_OK;
    }

    // What the stand-in does not offer.
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) noexcept override {
        return not_offered("GetStreamLatency");
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*,
                                                WAVEFORMATEX**) noexcept override {
        return not_offered("IsFormatSupported");
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX**) noexcept override { return not_offered("GetMixFormat"); }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) noexcept override {
        return not_offered("GetDevicePeriod");
    }

private:
    ~AudioClient() = default;

    static HRESULT not_offered(const char* method) {
        journal(std::string("IAudioClient::") + method + " -> " + hex(E_NOTIMPL));
        return E_NOTIMPL;
    }

    // With lock_ held.
    HRESULT initialize(AUDCLNT_SHAREMODE share, DWORD flags, REFERENCE_TIME buffer, REFERENCE_TIME period,
                       const WAVEFORMATEX* format) {
        if (initialized_) return refuse(AUDCLNT_E_ALREADY_INITIALIZED, "Initialize on an initialized client");
        if (share != AUDCLNT_SHAREMODE_SHARED) {
            return refuse(AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, "Initialize in exclusive mode");
        }
        if (format == nullptr) return refuse(E_POINTER, "Initialize without a format");
        if ((flags & (LOOPBACK | EVENT_CALLBACK)) != (LOOPBACK | EVENT_CALLBACK)) {
            return refuse(E_INVALIDARG, "Initialize without the loopback and event-callback flags");
        }
        if ((flags & ~ALLOWED_FLAGS) != 0 || ((flags & SRC_DEFAULT_QUALITY) != 0 && (flags & AUTOCONVERT_PCM) == 0)) {
            return refuse(E_INVALIDARG, "Initialize with stream flags " + hex(static_cast<HRESULT>(flags)));
        }
        if (period != 0) return refuse(E_INVALIDARG, "Initialize with a periodicity in shared mode");
        if (buffer < 0) return refuse(E_INVALIDARG, "Initialize with a negative buffer duration");
        if (!is_stream_format(*format)) {
            return refuse(AUDCLNT_E_UNSUPPORTED_FORMAT, "Initialize with the format " + describe(format));
        }
        const bool converting = (flags & AUTOCONVERT_PCM) != 0;
        if (config_.refuse_unconverted_format && !converting) return AUDCLNT_E_UNSUPPORTED_FORMAT;
        if (config_.refuse_every_format && converting) return *config_.refuse_every_format;
        initialized_ = true;
        flags_ = flags;
        buffer_frames_ = static_cast<UINT32>(std::max<REFERENCE_TIME>(buffer * 48000 / 10000000, 480));
        return S_OK;
    }

    const Config& config_;
    Lock lock_;  // guards the fields below; the client may be called from any thread
    bool initialized_ = false;
    DWORD flags_ = 0;
    UINT32 buffer_frames_ = 0;
    HANDLE event_ = nullptr;  // the caller's; borrowed
    bool started_ = false;
    Stream stream_;
};

class PlainObject final : public IUnknown, Counted<Kind::Other> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) noexcept override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (id != __uuidof(IUnknown)) return E_NOINTERFACE;
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return add_reference(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = drop_reference();
        if (left == 0) delete this;
        return left;
    }

private:
    ~PlainObject() = default;
};
STANDIN_COM_CLASS_END

}  // namespace

IAudioClient* make_audio_client(Target target) { return new AudioClient(target); }

IUnknown* make_plain_object() { return new PlainObject; }

}  // namespace standin
