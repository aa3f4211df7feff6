// Standalone driver for the fuzz targets when they are not linked with
// libFuzzer: feeds seeded pseudo-random inputs of varied sizes, so CI runs
// every target deterministically (also under the sanitizers).
//
//   fuzz_x [iterations] [seed]
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/wyrand.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    const long iterations = argc > 1 ? std::atol(argv[1]) : 10000;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    vornex::Wyrand rng(seed);
    std::vector<uint8_t> input;
    for (long i = 0; i < iterations; ++i) {
        input.resize(rng.next_u64() % 512);
        for (auto& byte : input) byte = static_cast<uint8_t>(rng.next_u64());
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld inputs passed\n", iterations);
    return 0;
}
