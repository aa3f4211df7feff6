// BlossomDecoder: weighted minimum-weight-matching decoder.
#include "matching/blossom.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<BlossomDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    auto weights = args.get<std::optional<std::vector<double>>>(2);
    return std::make_unique<BlossomDecoder>(build_blossom_graph(std::move(checks), n_qubits, std::move(weights)));
}

PyObject* edges(const BlossomDecoder& decoder) { return py_value(decoder.edges()); }

std::unique_ptr<BlossomDecoder> from_model(const Args& args) {
    ModelArg model(args, 0);
    return std::make_unique<BlossomDecoder>(unwrap(BlossomDecoder::from_model(*model)));
}

}  // namespace

ModuleItem& blossom_decoder_class() {
    using D = BlossomDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct>("BlossomDecoder(check_to_qubits, n_qubits, edge_weights)")
            .class_method<from_model>("from_detector_error_model($type, model)", kFromModelDoc)
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
