// BlossomDecoder: weighted minimum-weight-matching decoder.
#include "matching/blossom.h"

#include <cmath>

#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<BlossomDecoder> construct(const Args& args) {
    warn_if_check_matrix(args);
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    auto weights = args.get<std::optional<std::vector<double>>>(2);
    return std::make_unique<BlossomDecoder>(build_blossom_graph(std::move(checks), n_qubits, std::move(weights)));
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
        ClassSpec::of<construct>("BlossomDecoder(check_to_qubits, n_qubits, edge_weights)")
            .class_method<construct_from_model<D>>("from_detector_error_model($type, model)", kFromModelDoc)
            .class_method<from_matrix_and_probabilities>(
                "from_check_matrix($type, check_matrix, *, error_probabilities=None)",
                "Build the decoder from a parity-check matrix (dense 0/1 array or scipy.sparse; one column per\n"
                "qubit) with optional per-column error probabilities p, weighted ln((1 - p) / p).")
            .method<decode_method<&D::decode, "Tableau syndrome invalide: ", Syndrome::LengthFirst>>(
                "decode($self, syndrome)")
            .method<batch_method<&D::batch_decode, "Tableau syndromes invalide: ", BatchShape::Native>>(
                "batch_decode($self, syndromes)")
            .method<predict_observables_method<D>>(kPredictSignature, kPredictDoc)
            .method<predict_observables_batch_method<D>>(kPredictBatchSignature, kPredictBatchDoc)
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks")
            .getter<edges>("edges");
    return spec;
}

}  // namespace vornex::py
