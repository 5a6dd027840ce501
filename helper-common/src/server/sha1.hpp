#pragma once
// SHA-1 (FIPS 180-4), needed only for the WebSocket accept value.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace server {

using Sha1Digest = std::array<std::uint8_t, 20>;

class Sha1 {
public:
    void update(std::span<const std::uint8_t> data);
    // Pads and returns the digest; the object must not be updated afterwards.
    [[nodiscard]] Sha1Digest finish();

private:
    void process_block(const std::uint8_t* block);

    std::array<std::uint32_t, 5> state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                        0xC3D2E1F0u};
    std::array<std::uint8_t, 64> block_{};
    std::size_t block_used_ = 0;
    std::uint64_t total_bytes_ = 0;
};

[[nodiscard]] Sha1Digest sha1(std::span<const std::uint8_t> data);

}  // namespace server
