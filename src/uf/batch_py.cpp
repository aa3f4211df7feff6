// BatchDecoder: per-shot result vectors collected from a parallel loop.
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"
#include "uf/batch.h"

namespace vornex::py {
namespace {

PyObject* parallel_batch_decode(const BatchDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, -1);
    const SyndromeRows rows = syndrome_rows(view, decoder.n_checks(), "Invalid syndromes: ");
    return to_array(decoder.parallel_batch_decode(rows.bytes, rows.n_shots),
                    {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(decoder.n_qubits())});
}

// Its own entry so that call errors name the method actually called.
PyObject* batch_decode(const BatchDecoder& decoder, const Args& args) { return parallel_batch_decode(decoder, args); }

}  // namespace

ModuleItem& batch_decoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<BatchDecoder>>("BatchDecoder(check_to_qubits, n_qubits)")
            .method<parallel_batch_decode>("parallel_batch_decode($self, syndromes)")
            .method<batch_decode>(
                "batch_decode($self, syndromes)",
                "`batch_decode(syndromes: np.ndarray) -> np.ndarray` \u2014 alias for parallel_batch_decode.\n\n"
                "Provided for API consistency with the other batch decoders\n"
                "(`CPUBatchDecoder.batch_decode`, `OpenCLBatchDecoder.batch_decode`, etc.).")
            .getter<&BatchDecoder::n_qubits>("n_qubits")
            .getter<&BatchDecoder::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
