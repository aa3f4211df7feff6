// CPUBatchDecoder: blocked, pooled and parallel CPU batch decodes.
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"
#include "uf/cpu_batch.h"

namespace vornex::py {
namespace {

using BatchMethod = std::vector<uint8_t> (*)(const CPUBatchDecoder&, std::span<const uint8_t>, size_t);

PyObject* decode(const CPUBatchDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    const auto syndrome = syndrome_bytes(view, "Invalid syndrome: ");
    unwrap(decoder.check_syndrome_length(syndrome.size()));
    return to_array(decoder.decode(syndrome));
}

template <BatchMethod Run>
PyObject* batch(const CPUBatchDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, -1);
    const SyndromeRows rows = syndrome_rows(view, decoder.n_checks(), "Invalid syndromes: ");
    return to_array(Run(decoder, rows.bytes, rows.n_shots),
                    {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(decoder.n_qubits())});
}

std::vector<uint8_t> simd(const CPUBatchDecoder& d, std::span<const uint8_t> s, size_t n) {
    return d.batch_decode_simd(s, n);
}
std::vector<uint8_t> pooled(const CPUBatchDecoder& d, std::span<const uint8_t> s, size_t n) {
    return d.batch_decode_pooled(s, n);
}
std::vector<uint8_t> par(const CPUBatchDecoder& d, std::span<const uint8_t> s, size_t n) {
    return d.batch_decode_par(s, n);
}

}  // namespace

ModuleItem& cpu_batch_decoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<CPUBatchDecoder>>("CPUBatchDecoder(check_to_qubits, n_qubits)")
            .method<decode>("decode($self, syndrome)",
                            "`decode(syndrome: np.ndarray) -> np.ndarray` \u2014 single-syndrome decode.")
            .method<batch<simd>>("batch_decode_simd($self, syndromes)",
                                 "`batch_decode_simd(syndromes: np.ndarray) -> np.ndarray`")
            .method<batch<pooled>>("batch_decode_pooled($self, syndromes)",
                                   "`batch_decode_pooled(syndromes: np.ndarray) -> np.ndarray`\n"
                                   "Internally allocates the buffer pool and output \u2014 convenient Python API.")
            .method<batch<par>>("batch_decode_par($self, syndromes)",
                                "`batch_decode_par(syndromes: np.ndarray) -> np.ndarray`")
            .getter<&CPUBatchDecoder::n_qubits>("n_qubits")
            .getter<&CPUBatchDecoder::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
