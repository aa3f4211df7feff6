#include "base/chacha_rng.h"

namespace vornex {
namespace {

constexpr uint32_t rotl(uint32_t v, int c) { return (v << c) | (v >> (32 - c)); }

inline void quarter_round(std::array<uint32_t, 16>& x, int a, int b, int c, int d) {
    x[a] += x[b], x[d] = rotl(x[d] ^ x[a], 16);
    x[c] += x[d], x[b] = rotl(x[b] ^ x[c], 12);
    x[a] += x[b], x[d] = rotl(x[d] ^ x[a], 8);
    x[c] += x[d], x[b] = rotl(x[b] ^ x[c], 7);
}

}  // namespace

void chacha_block(const std::array<uint32_t, 16>& input, int rounds, std::array<uint32_t, 16>& output) {
    output = input;
    for (int r = 0; r < rounds; r += 2) {
        quarter_round(output, 0, 4, 8, 12);
        quarter_round(output, 1, 5, 9, 13);
        quarter_round(output, 2, 6, 10, 14);
        quarter_round(output, 3, 7, 11, 15);
        quarter_round(output, 0, 5, 10, 15);
        quarter_round(output, 1, 6, 11, 12);
        quarter_round(output, 2, 7, 8, 13);
        quarter_round(output, 3, 4, 9, 14);
    }
    for (size_t i = 0; i < 16; ++i) output[i] += input[i];
}

ChaChaRng::ChaChaRng(const std::array<uint8_t, 32>& seed, int rounds) : rounds_(rounds) {
    state_[0] = 0x61707865;  // "expand 32-byte k"
    state_[1] = 0x3320646e;
    state_[2] = 0x79622d32;
    state_[3] = 0x6b206574;
    for (size_t i = 0; i < 8; ++i)
        state_[4 + i] = uint32_t{seed[4 * i]} | uint32_t{seed[4 * i + 1]} << 8 | uint32_t{seed[4 * i + 2]} << 16 |
                        uint32_t{seed[4 * i + 3]} << 24;
}

void ChaChaRng::refill() {
    chacha_block(state_, rounds_, block_);
    if (++state_[12] == 0) ++state_[13];
    index_ = 0;
}

uint32_t ChaChaRng::next_u32() {
    if (index_ == 16) refill();
    return block_[index_++];
}

uint64_t ChaChaRng::next_u64() {
    const uint64_t lo = next_u32();
    return lo | uint64_t{next_u32()} << 32;
}

}  // namespace vornex
