// CPUBatchDecoder: blocked, pooled and parallel CPU batch decodes.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/cpu_batch.h"

namespace vornex::py {
namespace {

// The blocked and pooled forms with their default lane copies.
template <auto Member>
std::vector<uint8_t> default_lanes(const CPUBatchDecoder& decoder, std::span<const uint8_t> rows, size_t n_shots) {
    return (decoder.*Member)(rows, n_shots, lane_copies());
}

}  // namespace

ModuleItem& cpu_batch_decoder_class() {
    using D = CPUBatchDecoder;
    static ClassSpec spec =
        check_graph_class<D>("CPUBatchDecoder(check_to_qubits, n_qubits)")
            .method<decode_method<&D::decode, "Invalid syndrome: ", Syndrome::LengthFirst>>(
                "decode($self, syndrome)", "`decode(syndrome: np.ndarray) -> np.ndarray` \u2014 single-syndrome decode.")
            .method<batch_method<default_lanes<&D::batch_decode_simd>, "Invalid syndromes: ">>(
                "batch_decode_simd($self, syndromes)", "`batch_decode_simd(syndromes: np.ndarray) -> np.ndarray`")
            .method<batch_method<default_lanes<&D::batch_decode_pooled>, "Invalid syndromes: ">>(
                "batch_decode_pooled($self, syndromes)",
                "`batch_decode_pooled(syndromes: np.ndarray) -> np.ndarray`\n"
                "Internally allocates the buffer pool and output \u2014 convenient Python API.")
            .method<batch_method<&D::batch_decode_par, "Invalid syndromes: ">>(
                "batch_decode_par($self, syndromes)", "`batch_decode_par(syndromes: np.ndarray) -> np.ndarray`")
            .with(size_getters<D>);
    return spec;
}

}  // namespace vornex::py
