// BlossomDecoder: weighted minimum-weight-matching decoder.
#include "matching/blossom.h"
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"

namespace vornex::py {
namespace {

std::unique_ptr<BlossomDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    auto weights = args.get<std::optional<std::vector<double>>>(2);
    return std::make_unique<BlossomDecoder>(build_blossom_graph(std::move(checks), n_qubits, std::move(weights)));
}

PyObject* decode(const BlossomDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    const auto syndrome = syndrome_bytes(view, "Tableau syndrome invalide: ");
    unwrap(decoder.check_syndrome_length(syndrome.size()));
    return to_array(unwrap(decoder.decode(syndrome)));
}

PyObject* batch_decode(const BlossomDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, -1);
    const auto bytes = syndrome_bytes(view, "Tableau syndromes invalide: ");
    std::vector<size_t> shape;
    for (int axis = 0; axis < view.ndim(); ++axis) shape.push_back(view.dim(axis));
    unwrap(decoder.check_batch_shape(shape));
    return to_array(decoder.batch_decode(bytes, shape[0]),
                    {static_cast<npy_intp>(shape[0]), static_cast<npy_intp>(decoder.n_qubits())});
}

PyObject* edges(const BlossomDecoder& decoder) { return py_value(decoder.edges()); }

}  // namespace

ModuleItem& blossom_decoder_class() {
    static ClassSpec spec = ClassSpec::of<construct>("BlossomDecoder(check_to_qubits, n_qubits, edge_weights)")
                                .method<decode>("decode($self, syndrome)")
                                .method<batch_decode>("batch_decode($self, syndromes)")
                                .getter<&BlossomDecoder::n_qubits>("n_qubits")
                                .getter<&BlossomDecoder::n_checks>("n_checks")
                                .getter<edges>("edges");
    return spec;
}

}  // namespace vornex::py
