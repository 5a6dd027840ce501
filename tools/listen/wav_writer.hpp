#pragma once
// A WAV file of 16-bit PCM: the header is written first with zero sizes and
// completed when the file is finished.

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace listen {

inline constexpr std::size_t WAV_HEADER_BYTES = 44;

// The canonical header for `data_bytes` bytes of PCM.
[[nodiscard]] std::array<std::uint8_t, WAV_HEADER_BYTES> wav_header(std::uint32_t sample_rate, std::uint16_t channels,
                                                   std::uint32_t data_bytes);

class WavWriter {
public:
    // Opens (truncates) the file; check is_open().
    WavWriter(const std::string& path, std::uint32_t sample_rate, std::uint16_t channels);
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    ~WavWriter();

    [[nodiscard]] bool is_open() const { return file_ != nullptr; }
    [[nodiscard]] bool append(std::span<const std::uint8_t> pcm);
    // Writes the final sizes into the header and closes; true when all went well.
    [[nodiscard]] bool finish();

private:
    std::FILE* file_ = nullptr;
    std::uint32_t sample_rate_;
    std::uint16_t channels_;
    std::uint64_t data_bytes_ = 0;
    bool ok_ = true;
};

}  // namespace listen
