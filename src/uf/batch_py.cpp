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

constexpr const char* kAliasDoc =
    "`batch_decode(syndromes: np.ndarray) -> np.ndarray` \u2014 alias for parallel_batch_decode.\n\n"
    "Provided for API consistency with the other batch decoders\n"
    "(`CPUBatchDecoder.batch_decode`, `OpenCLBatchDecoder.batch_decode`, etc.).";

}  // namespace

ModuleItem& batch_decoder_class() {
    using D = BatchDecoder;
    static ClassSpec spec =
        check_graph_class<D>("BatchDecoder(check_to_qubits, n_qubits)")
            .method<batch_method<&D::parallel_batch_decode, "Invalid syndromes: ">>(
                "parallel_batch_decode($self, syndromes)")
            .method<batch_method<batch_decode, "Invalid syndromes: ">>("batch_decode($self, syndromes)", kAliasDoc)
            .with(size_getters<D>);
    return spec;
}

}  // namespace vornex::py
