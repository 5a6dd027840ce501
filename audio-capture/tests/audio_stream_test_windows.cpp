// initialize_stream against a recording IAudioClient: the values passed, the
// order of the calls, and which error comes back.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/windows/audio_stream.hpp"

namespace audio::capture::windows {
namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// Lives on the test's stack; its reference count is never used.
class RecordingClient final : public IAudioClient {
public:
    HRESULT initialize_result = S_OK;
    HRESULT set_event_result = S_OK;
    std::vector<std::string> calls;
    AUDCLNT_SHAREMODE share_mode = AUDCLNT_SHAREMODE_EXCLUSIVE;
    DWORD flags = 0;
    REFERENCE_TIME duration = 0;
    REFERENCE_TIME periodicity = -1;
    WAVEFORMATEX format{};
    const GUID* session = reinterpret_cast<const GUID*>(0x1);
    HANDLE event = nullptr;

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD stream_flags, REFERENCE_TIME buffer,
                                         REFERENCE_TIME period, const WAVEFORMATEX* wave,
                                         LPCGUID session_guid) override {
        calls.push_back("Initialize");
        share_mode = mode;
        flags = stream_flags;
        duration = buffer;
        periodicity = period;
        format = *wave;
        session = session_guid;
        return initialize_result;
    }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE handle) override {
        calls.push_back("SetEventHandle");
        event = handle;
        return set_event_result;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Start() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetService(REFIID, void**) override { return E_NOTIMPL; }
};
#pragma GCC diagnostic pop

const HANDLE SOME_EVENT = reinterpret_cast<HANDLE>(0x1234);

TEST(InitializeStream, PassesTheFixedSettingsThenTheEvent) {
    for (const std::uint32_t extra : {0x00000000u, 0x88000000u}) {
        RecordingClient client;
        ASSERT_TRUE(initialize_stream(client, SOME_EVENT, extra).has_value());
        EXPECT_EQ(client.calls, (std::vector<std::string>{"Initialize", "SetEventHandle"}));
        EXPECT_EQ(client.share_mode, AUDCLNT_SHAREMODE_SHARED);
        EXPECT_EQ(client.flags, 0x00060000u | extra);
        EXPECT_EQ(client.duration, 200000);
        EXPECT_EQ(client.periodicity, 0);
        EXPECT_EQ(client.session, nullptr);
        EXPECT_EQ(client.event, SOME_EVENT);
        EXPECT_EQ(client.format.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(client.format.nChannels, 2);
        EXPECT_EQ(client.format.nSamplesPerSec, 48000u);
        EXPECT_EQ(client.format.nAvgBytesPerSec, 192000u);
        EXPECT_EQ(client.format.nBlockAlign, 4);
        EXPECT_EQ(client.format.wBitsPerSample, 16);
        EXPECT_EQ(client.format.cbSize, 0);
    }
}

TEST(InitializeStream, ReturnsTheFirstFailure) {
    RecordingClient refusing;
    refusing.initialize_result = static_cast<HRESULT>(0x88890008);  // unsupported format
    auto refused = initialize_stream(refusing, SOME_EVENT, 0);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(static_cast<std::uint32_t>(refused.error().code), 0x88890008u);
    EXPECT_EQ(refusing.calls, std::vector<std::string>{"Initialize"}) << "no event for a failed stream";

    RecordingClient no_event;
    no_event.set_event_result = E_INVALIDARG;
    auto unattached = initialize_stream(no_event, SOME_EVENT, 0);
    ASSERT_FALSE(unattached.has_value());
    EXPECT_EQ(unattached.error().code, E_INVALIDARG);
}

}  // namespace
}  // namespace audio::capture::windows
