// wyrand: the library's small pseudo-random generator (weight initialisation,
// benchmark syndromes). Seeded instances are reproducible; the per-thread
// instance is seeded from the clock and the thread id and differs per run.
#pragma once

#include <cstdint>

namespace vornex {

class Wyrand {
public:
    explicit Wyrand(uint64_t seed) : state_(seed) {}

    // One step of wyrand: add the Weyl increment, fold the 128-bit product.
    uint64_t next_u64() {
        state_ += 0x2d358dccaa6c78a5ull;
        const unsigned __int128 t =
            static_cast<unsigned __int128>(state_) * (state_ ^ 0x8bb84b93962eacc9ull);
        return static_cast<uint64_t>(t >> 64) ^ static_cast<uint64_t>(t);
    }

    // Uniform double in [0, 1); a draw that rounds to exactly 1.0 is redrawn.
    double next_unit() {
        for (;;) {
            const double x = static_cast<double>(next_u64() >> 1) * 0x1p-63;
            if (x < 1.0) return x;
        }
    }

    uint64_t state() const { return state_; }

private:
    uint64_t state_;
};

// The calling thread's own generator, created on its first use.
Wyrand& thread_rng();

// A seeded instance whose seed is one draw of the calling thread's generator.
Wyrand derive_rng();

// splitmix64's finaliser: inputs that differ in one bit give unrelated
// outputs (seeds derived from counters, clocks or thread ids).
uint64_t mix64(uint64_t z);

}  // namespace vornex
