// BatchDecoder: per-shot result vectors collected from a parallel loop.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/batch.h"

namespace vornex::py {
namespace {

// Its own entry point, so that call errors name the method actually called.
std::vector<uint8_t> batch_decode(const BatchDecoder& decoder, std::span<const uint8_t> rows, size_t n_shots) {
    return decoder.parallel_batch_decode(rows, n_shots);
}

}  // namespace

ModuleItem& batch_decoder_class() {
    using D = BatchDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("BatchDecoder(check_to_qubits, n_qubits)")
            .class_method<from_check_matrix<D>>(kFromCheckMatrixSignature, kFromCheckMatrixDoc)
            .method<batch_method<&D::parallel_batch_decode, "Invalid syndromes: ">>(
                "parallel_batch_decode($self, syndromes)")
            .method<batch_method<batch_decode, "Invalid syndromes: ">>(
                "batch_decode($self, syndromes)",
                "`batch_decode(syndromes: np.ndarray) -> np.ndarray` \u2014 alias for parallel_batch_decode.\n\n"
                "Provided for API consistency with the other batch decoders\n"
                "(`CPUBatchDecoder.batch_decode`, `OpenCLBatchDecoder.batch_decode`, etc.).")
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
