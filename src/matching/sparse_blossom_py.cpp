// SparseBlossomDecoder: matching on breadth-first path costs.
#include "matching/sparse_blossom.h"
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"

namespace vornex::py {
namespace {

using WeightPairs = std::vector<std::pair<uint32_t, double>>;

std::unique_ptr<SparseBlossomDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    return std::make_unique<SparseBlossomDecoder>(SparseBlossomDecoder::create(std::move(checks), n_qubits));
}

std::span<const uint8_t> checked_syndrome(const SparseBlossomDecoder& decoder, ArrayView<uint8_t>& view) {
    const auto syndrome = syndrome_bytes(view, "Invalid syndrome: ");
    unwrap(decoder.check_syndrome_length(syndrome.size()));
    return syndrome;
}

PyObject* decode(const SparseBlossomDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    return to_array(unwrap(decoder.decode(checked_syndrome(decoder, view))));
}

PyObject* decode_with_weights(SparseBlossomDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    auto weights = args.get<WeightPairs>(1);
    return to_array(unwrap(decoder.decode_with_weights(checked_syndrome(decoder, view), weights)));
}

PyObject* batch_decode(const SparseBlossomDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, -1);
    const SyndromeRows rows = syndrome_rows(view, decoder.n_checks(), "Invalid syndromes: ");
    return to_array(decoder.batch_decode(rows.bytes, rows.n_shots),
                    {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(decoder.n_qubits())});
}

}  // namespace

ModuleItem& sparse_blossom_decoder_class() {
    static ClassSpec spec = ClassSpec::of<construct>("SparseBlossomDecoder(check_to_qubits, n_qubits)")
                                .method<decode>("decode($self, syndrome)")
                                .method<decode_with_weights>("decode_with_weights($self, syndrome, weights)")
                                .method<batch_decode>("batch_decode($self, syndromes)")
                                .getter<&SparseBlossomDecoder::n_qubits>("n_qubits")
                                .getter<&SparseBlossomDecoder::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
