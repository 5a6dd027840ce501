#include "server/sha1.hpp"

#include <algorithm>
#include <bit>

namespace server {

void Sha1::process_block(const std::uint8_t* block) {
    std::array<std::uint32_t, 80> w{};
    for (std::size_t i = 0; i < 16; ++i) {
        w[i] = (std::uint32_t{block[4 * i]} << 24) | (std::uint32_t{block[4 * i + 1]} << 16) |
               (std::uint32_t{block[4 * i + 2]} << 8) | std::uint32_t{block[4 * i + 3]};
    }
    for (std::size_t i = 16; i < 80; ++i) {
        w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    auto [a, b, c, d, e] = state_;
    for (std::size_t i = 0; i < 80; ++i) {
        std::uint32_t f = 0;
        std::uint32_t k = 0;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const std::uint32_t t = std::rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = t;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
}

void Sha1::update(std::span<const std::uint8_t> data) {
    total_bytes_ += data.size();
    while (!data.empty()) {
        const std::size_t take = std::min(data.size(), block_.size() - block_used_);
        std::copy_n(data.begin(), take, block_.begin() + static_cast<std::ptrdiff_t>(block_used_));
        block_used_ += take;
        data = data.subspan(take);
        if (block_used_ == block_.size()) {
            process_block(block_.data());
            block_used_ = 0;
        }
    }
}

Sha1Digest Sha1::finish() {
    const std::uint64_t bit_length = total_bytes_ * 8;
    // One 0x80 byte, zeros up to 56 mod 64, then the length as 64 bits big-endian.
    const std::array<std::uint8_t, 1> marker{0x80};
    update(marker);
    const std::array<std::uint8_t, 64> zeros{};
    const std::size_t pad = (block_used_ <= 56) ? 56 - block_used_ : 64 + 56 - block_used_;
    update(std::span(zeros).first(pad));
    std::array<std::uint8_t, 8> length{};
    for (std::size_t i = 0; i < 8; ++i) {
        length[i] = static_cast<std::uint8_t>(bit_length >> (56 - 8 * i));
    }
    update(length);

    Sha1Digest digest{};
    for (std::size_t i = 0; i < 5; ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
            digest[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
        }
    }
    return digest;
}

Sha1Digest sha1(std::span<const std::uint8_t> data) {
    Sha1 hash;
    hash.update(data);
    return hash.finish();
}

}  // namespace server
