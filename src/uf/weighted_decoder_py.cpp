// WeightedUnionFindDecoder: Union-Find with growth in proportion to edge
// weights. Methods read the decoder only (scratch lives on the calling
// thread or in each worker's piece of a batch), so they share the object.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/weighted_decoder.h"

namespace vornex::py {
namespace {

constexpr const char* kClassDoc =
    "Union-Find decoder whose clusters grow along each edge in proportion to its weight (for instance "
    "ln((1 - p) / p)), discretised to at most 64 units per edge; fully grown edges are peeled as in "
    "UnionFindDecoder. Without weights, or with all weights equal, it returns UnionFindDecoder's corrections. "
    "check_to_qubits lists the qubits of each check (each qubit in at most two checks); n_qubits may be None; "
    "weights holds one finite non-negative number per qubit.";
constexpr const char* kWeightedFromModelDoc =
    "Build the decoder from a detector error model (DetectorErrorModel, model text, a path or a "
    "stim.DetectorErrorModel): one check per detector, one column per edge of its graph view, weighted "
    "ln((1 - p) / p) by the edge's probability p (at most 0.5).";
constexpr const char* kDecodeDoc =
    "Correction of one syndrome: uint8 (n_qubits,) from a uint8 (n_checks,) array.";
constexpr const char* kBatchDoc =
    "Corrections of (shots, n_checks) uint8 syndromes as (shots, n_qubits) uint8; shots run on the worker pool.";

}  // namespace

ModuleItem& weighted_union_find_decoder_class() {
    using D = WeightedUnionFindDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("WeightedUnionFindDecoder(check_to_qubits, n_qubits, *, weights=None)",
                                              kClassDoc)
            .with(weighted_check_matrix_constructor<D>)
            .class_method<construct_from_model<D>>("from_detector_error_model($type, model)", kWeightedFromModelDoc)
            .method<decode_method<&D::decode, "Invalid syndrome array: ", Syndrome::LengthFirst>>(
                "decode($self, syndrome)", kDecodeDoc)
            .method<batch_method<&D::batch_decode, "Invalid syndromes array: ">>("batch_decode($self, syndromes)",
                                                                                  kBatchDoc)
            .with(observable_predictions<D>)
            .getter<&D::n_qubits>("n_qubits", "Number of qubits (columns): the length of a correction.")
            .getter<&D::n_checks>("n_checks", "Number of checks (detectors): the length of a syndrome.")
            .getter<&D::num_observables>("num_observables",
                                         "Observables of the model the decoder was built from; 0 for check lists.");
    return spec;
}

}  // namespace vornex::py
