#include "base/chacha_rng.h"

#include <gtest/gtest.h>

namespace vornex {
namespace {

using Block = std::array<uint32_t, 16>;

// Serialised little-endian words of a block.
std::vector<uint8_t> bytes_of(const Block& b) {
    std::vector<uint8_t> out;
    for (uint32_t w : b)
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(w >> (8 * k)));
    return out;
}

Block rfc_state(const std::array<uint8_t, 32>& key, uint32_t counter, const std::array<uint32_t, 3>& nonce) {
    Block s{0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
    for (size_t i = 0; i < 8; ++i)
        s[4 + i] = uint32_t{key[4 * i]} | uint32_t{key[4 * i + 1]} << 8 | uint32_t{key[4 * i + 2]} << 16 |
                   uint32_t{key[4 * i + 3]} << 24;
    s[12] = counter;
    s[13] = nonce[0], s[14] = nonce[1], s[15] = nonce[2];
    return s;
}

TEST(ChaChaBlock, PublishedTwentyRoundVectors) {
    // Block function example: key 00..1f, nonce 00000009 0000004a 00000000, counter 1.
    std::array<uint8_t, 32> key{};
    for (size_t i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i);
    Block out{};
    chacha_block(rfc_state(key, 1, {0x09000000, 0x4a000000, 0}), 20, out);
    const Block expected = {0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3, 0xc7f4d1c7, 0x0368c033,
                            0x9aaa2204, 0x4e6cd4c3, 0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
                            0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2};
    EXPECT_EQ(out, expected);

    // All-zero key, nonce and counter.
    chacha_block(rfc_state({}, 0, {0, 0, 0}), 20, out);
    const std::vector<uint8_t> zero_block = {
        0x76, 0xb8, 0xe0, 0xad, 0xa0, 0xf1, 0x3d, 0x90, 0x40, 0x5d, 0x6a, 0xe5, 0x53, 0x86, 0xbd, 0x28,
        0xbd, 0xd2, 0x19, 0xb8, 0xa0, 0x8d, 0xed, 0x1a, 0xa8, 0x36, 0xef, 0xcc, 0x8b, 0x77, 0x0d, 0xc7,
        0xda, 0x41, 0x59, 0x7c, 0x51, 0x57, 0x48, 0x8d, 0x77, 0x24, 0xe0, 0x3f, 0xb8, 0xd8, 0x4a, 0x37,
        0x6a, 0x43, 0xb8, 0xf4, 0x15, 0x18, 0xa1, 0x1c, 0xc3, 0x87, 0xb6, 0x69, 0xb2, 0xee, 0x65, 0x86};
    EXPECT_EQ(bytes_of(out), zero_block);
}

TEST(ChaChaRng, StreamIsBlocksInCounterOrder) {
    std::array<uint8_t, 32> seed{};
    for (size_t i = 0; i < 32; ++i) seed[i] = static_cast<uint8_t>(7 * i + 1);
    ChaChaRng rng(seed, 12);
    ChaChaRng again(seed, 12);
    Block b0{}, b1{};
    chacha_block(rfc_state(seed, 0, {0, 0, 0}), 12, b0);
    chacha_block(rfc_state(seed, 1, {0, 0, 0}), 12, b1);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(rng.next_u64(), uint64_t{b0[2 * i]} | uint64_t{b0[2 * i + 1]} << 32);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(rng.next_u32(), b1[i]);
    for (int i = 0; i < 16; ++i) again.next_u64();
    EXPECT_EQ(again.next_u64(), rng.next_u64());

    // Twelve rounds differ from twenty.
    Block b20{};
    chacha_block(rfc_state(seed, 0, {0, 0, 0}), 20, b20);
    EXPECT_NE(b0, b20);
}

}  // namespace
}  // namespace vornex
