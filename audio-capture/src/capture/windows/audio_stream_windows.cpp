#include "capture/windows/audio_stream.hpp"

#include "capture/stream_settings.hpp"

namespace audio::capture::windows {

WAVEFORMATEX to_waveformatex(const protocol::StreamFormat& format) {
    WAVEFORMATEX wave{};
    wave.wFormatTag = format.format_tag;
    wave.nChannels = format.channels;
    wave.nSamplesPerSec = format.samples_per_sec;
    wave.nAvgBytesPerSec = format.avg_bytes_per_sec;
    wave.nBlockAlign = format.block_align;
    wave.wBitsPerSample = format.bits_per_sample;
    wave.cbSize = format.extra_size;
    return wave;
}

std::expected<void, ComError> initialize_stream(IAudioClient& client, HANDLE event, std::uint32_t extra_flags) {
    const WAVEFORMATEX wave = to_waveformatex(protocol::STREAM_FORMAT);
    const HRESULT initialized = client.Initialize(AUDCLNT_SHAREMODE_SHARED, BASE_STREAM_FLAGS | extra_flags,
                                                  BUFFER_DURATION_HNS, 0, &wave, nullptr);
    if (FAILED(initialized)) {
        return std::unexpected(ComError::from_call(initialized));
    }
    const HRESULT attached = client.SetEventHandle(event);
    if (FAILED(attached)) {
        return std::unexpected(ComError::from_call(attached));
    }
    return {};
}

}  // namespace audio::capture::windows
