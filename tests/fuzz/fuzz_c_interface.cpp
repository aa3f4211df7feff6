// The C interface on arbitrary arguments: any flat check array, weight and
// qubit count either yields a handle or null, and decodes with lengths that
// do not match return -1 without writing a byte.
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "uf/vornex_uf.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vornex::fuzz::Input in(data, size);
    const size_t n_checks = in.below(12);
    const size_t weight = in.below(4);
    const size_t n_qubits = n_checks + in.below(8);
    // Mostly chains of overlapping checks (valid codes), sometimes arbitrary
    // indices, out-of-range ones and the reserved value.
    const bool arbitrary = in.byte() < 64;
    std::vector<uint32_t> flat(n_checks * weight + 1);
    for (size_t i = 0; i < flat.size(); ++i) {
        const size_t check = weight ? i / weight : 0;
        flat[i] = arbitrary ? (in.byte() == 255 ? 0xFFFFFFFFu : in.below(24))
                            : static_cast<uint32_t>(check + (weight ? i % weight : 0) % 2);
    }
    VornexFastDecoder* handle = vornex_fast_decoder_create(flat.data(), n_checks, weight, n_qubits);
    if (handle == nullptr) return 0;
    require(n_checks > 0 && weight > 0);

    std::vector<uint8_t> syndrome(n_checks + 1);
    for (auto& byte : syndrome) byte = in.byte();
    std::vector<uint8_t> correction(n_qubits + 1, 0x5A);
    const size_t syndrome_len = n_checks + in.below(3) - 1;
    const size_t correction_len = n_qubits + in.below(3) - 1;
    const int32_t status = vornex_decode_fast(handle, syndrome.data(), syndrome_len, correction.data(), correction_len);
    if (syndrome_len != n_checks || correction_len != n_qubits) {
        require(status == -1);
        for (uint8_t byte : correction) require(byte == 0x5A);
    } else {
        require(status == 0);
        for (size_t q = 0; q < n_qubits; ++q) require(correction[q] <= 1);
        require(correction[n_qubits] == 0x5A);
        std::vector<uint8_t> batch(n_qubits, 0x33);
        require(vornex_decode_fast_batch(handle, syndrome.data(), 1, batch.data()) == 0);
        for (size_t q = 0; q < n_qubits; ++q) require(batch[q] == correction[q]);
    }
    require(vornex_decode_fast(handle, nullptr, n_checks, correction.data(), n_qubits) == -1);
    require(vornex_decode_fast_batch(handle, syndrome.data(), 1, nullptr) == -1);
    vornex_fast_decoder_free(handle);
    return 0;
}
