// ChaCha stream generator (Bernstein's ChaCha with a 64-bit block counter and
// a 64-bit stream id of 0): the logical-error-rate benchmark's own source of
// errors, reproducible from a 32-byte seed on every platform.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vornex {

// One ChaCha block: `rounds` rounds (an even number) over `input`, then the
// input added word by word.
void chacha_block(const std::array<uint32_t, 16>& input, int rounds, std::array<uint32_t, 16>& output);

class ChaChaRng {
public:
    ChaChaRng(const std::array<uint8_t, 32>& seed, int rounds);

    // Output words in block order, block counter starting at 0.
    uint32_t next_u32();
    // Two consecutive words, the first as the low half.
    uint64_t next_u64();

private:
    void refill();

    std::array<uint32_t, 16> state_{};
    std::array<uint32_t, 16> block_{};
    size_t index_ = 16;
    int rounds_;
};

}  // namespace vornex
