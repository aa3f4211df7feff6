// CPUBatchDecoder: blocked, pooled and parallel CPU batch decodes.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/cpu_batch.h"

namespace vornex::py {
namespace {

// The batch entry points without their native tuning arguments.
std::vector<uint8_t> simd(const CPUBatchDecoder& d, std::span<const uint8_t> s, size_t n) {
    return d.batch_decode_simd(s, n);
}
std::vector<uint8_t> pooled(const CPUBatchDecoder& d, std::span<const uint8_t> s, size_t n) {
    return d.batch_decode_pooled(s, n);
}

}  // namespace

ModuleItem& cpu_batch_decoder_class() {
    using D = CPUBatchDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("CPUBatchDecoder(check_to_qubits, n_qubits)")
            .method<decode_method<&D::decode, "Invalid syndrome: ", Syndrome::LengthFirst>>(
                "decode($self, syndrome)", "`decode(syndrome: np.ndarray) -> np.ndarray` \u2014 single-syndrome decode.")
            .method<batch_method<simd, "Invalid syndromes: ">>(
                "batch_decode_simd($self, syndromes)", "`batch_decode_simd(syndromes: np.ndarray) -> np.ndarray`")
            .method<batch_method<pooled, "Invalid syndromes: ">>(
                "batch_decode_pooled($self, syndromes)",
                "`batch_decode_pooled(syndromes: np.ndarray) -> np.ndarray`\n"
                "Internally allocates the buffer pool and output \u2014 convenient Python API.")
            .method<batch_method<&D::batch_decode_par, "Invalid syndromes: ">>(
                "batch_decode_par($self, syndromes)", "`batch_decode_par(syndromes: np.ndarray) -> np.ndarray`")
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
