#include "wav_writer.hpp"

#include <limits>

namespace listen {
namespace {

// Writes a little-endian value of `bytes` bytes at the position and moves on.
void put(std::array<std::uint8_t, WAV_HEADER_BYTES>& out, std::size_t& at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out[at++] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void put_tag(std::array<std::uint8_t, WAV_HEADER_BYTES>& out, std::size_t& at, const char (&tag)[5]) {
    for (int i = 0; i < 4; ++i) {
        out[at++] = static_cast<std::uint8_t>(tag[i]);
    }
}

}  // namespace

std::array<std::uint8_t, WAV_HEADER_BYTES> wav_header(std::uint32_t sample_rate, std::uint16_t channels,
                                                      std::uint32_t data_bytes) {
    constexpr std::uint16_t BITS = 16;
    const auto block_align = static_cast<std::uint16_t>(channels * BITS / 8);
    std::array<std::uint8_t, WAV_HEADER_BYTES> header{};
    std::size_t at = 0;
    put_tag(header, at, "RIFF");
    put(header, at, 36 + data_bytes, 4);
    put_tag(header, at, "WAVE");
    put_tag(header, at, "fmt ");
    put(header, at, 16, 4);
    put(header, at, 1, 2);  // PCM
    put(header, at, channels, 2);
    put(header, at, sample_rate, 4);
    put(header, at, sample_rate * block_align, 4);
    put(header, at, block_align, 2);
    put(header, at, BITS, 2);
    put_tag(header, at, "data");
    put(header, at, data_bytes, 4);
    return header;
}

WavWriter::WavWriter(const std::string& path, std::uint32_t sample_rate, std::uint16_t channels)
    : file_(std::fopen(path.c_str(), "wb")), sample_rate_(sample_rate), channels_(channels) {
    if (file_ != nullptr) {
        const auto header = wav_header(sample_rate_, channels_, 0);
        ok_ = std::fwrite(header.data(), 1, header.size(), file_) == header.size();
    }
}

WavWriter::~WavWriter() { (void)finish(); }

bool WavWriter::append(std::span<const std::uint8_t> pcm) {
    if (file_ == nullptr) {
        return false;
    }
    ok_ = ok_ && std::fwrite(pcm.data(), 1, pcm.size(), file_) == pcm.size();
    data_bytes_ += pcm.size();
    return ok_;
}

bool WavWriter::finish() {
    if (file_ == nullptr) {
        return ok_;
    }
    // A WAV file cannot describe more than 4 GiB of data; the sizes then saturate.
    const auto limit = std::numeric_limits<std::uint32_t>::max() - 36;
    const auto size = static_cast<std::uint32_t>(data_bytes_ > limit ? limit : data_bytes_);
    const auto header = wav_header(sample_rate_, channels_, size);
    ok_ = ok_ && std::fseek(file_, 0, SEEK_SET) == 0 &&
          std::fwrite(header.data(), 1, header.size(), file_) == header.size();
    ok_ = std::fclose(file_) == 0 && ok_;
    file_ = nullptr;
    return ok_;
}

}  // namespace listen
