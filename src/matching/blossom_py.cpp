// BlossomDecoder: weighted minimum-weight-matching decoder.
#include "matching/blossom.h"

#include <cmath>

#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

// The constructor's factory: the graph with the default tree limit.
BlossomGraph graph_of(CheckList check_to_qubits, std::optional<uint64_t> n_qubits,
                      std::optional<std::vector<double>> edge_weights) {
    return build_blossom_graph(std::move(check_to_qubits), n_qubits, std::move(edge_weights));
}

// Column q's probability p becomes the edge weight ln((1 - p) / p).
std::unique_ptr<BlossomDecoder> from_matrix_and_probabilities(const Args& args) {
    CheckMatrix matrix = read_check_matrix(args[0], args.name(0));
    auto weights = weights_from_probabilities(args, 1, matrix.n_columns);
    return std::make_unique<BlossomDecoder>(
        build_blossom_graph(std::move(matrix.checks), matrix.n_columns, std::move(weights)));
}

PyObject* edges(const BlossomDecoder& decoder) { return py_value(decoder.edges()); }

}  // namespace

ModuleItem& blossom_decoder_class() {
    using D = BlossomDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_with<D, &graph_of>>("BlossomDecoder(check_to_qubits, n_qubits, edge_weights)")
            .with(model_constructor<D>)
            .class_method<from_matrix_and_probabilities>(
                "from_check_matrix($type, check_matrix, *, error_probabilities=None)",
                "Build the decoder from a parity-check matrix (dense 0/1 array or scipy.sparse; one column per\n"
                "qubit) with optional per-column error probabilities p, weighted ln((1 - p) / p).")
            .with(decode_methods<D, "Tableau syndrome invalide: ", "Tableau syndromes invalide: ",
                                 Syndrome::LengthFirst, BatchShape::Native>)
            .with(observable_predictions<D>, size_getters<D>)
            .getter<edges>("edges");
    return spec;
}

}  // namespace vornex::py
