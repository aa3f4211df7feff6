// Groups of members that several decoder classes share, added to a class
// with `ClassSpec::with`. A group adds its members in the order the classes
// always listed them; getters keep that order because the repr follows it.
#pragma once

#include "module/check_matrix.h"
#include "module/code_constructor.h"
#include "module/class_def.h"
#include "module/decoder_methods.h"
#include "module/model_arg.h"
#include "module/predict_methods.h"

namespace vornex::py {

// n_qubits then n_checks.
template <class D>
void size_getters(ClassSpec& spec) {
    spec.getter<&D::n_qubits>("n_qubits");
    spec.getter<&D::n_checks>("n_checks");
}

// num_detectors, num_observables then num_edges: a family matching on a
// model's graph.
template <class D>
void model_graph_getters(ClassSpec& spec) {
    spec.getter<&D::n_detectors>("num_detectors");
    spec.getter<&D::n_observables>("num_observables");
    spec.getter<&D::n_edges>("num_edges");
}

// from_check_matrix of a family built by D::create(checks, n_qubits).
template <class D>
void check_matrix_constructor(ClassSpec& spec) {
    spec.class_method<from_check_matrix<D>>(kFromCheckMatrixSignature, kFromCheckMatrixDoc);
}

// A family built by D::create(check_to_qubits, n_qubits): its constructor
// and from_check_matrix.
template <class D>
ClassSpec check_graph_class(const std::string& text_signature, const std::string& description = "") {
    return ClassSpec::of<construct_from_code<D>>(text_signature, description).with(check_matrix_constructor<D>);
}

// from_check_matrix taking weights or per-column error probabilities.
template <class D>
void weighted_check_matrix_constructor(ClassSpec& spec) {
    spec.class_method<weighted_from_check_matrix<D>>(kWeightedFromCheckMatrixSignature,
                                                     kWeightedFromCheckMatrixDoc);
}

// from_detector_error_model through D::from_model.
template <class D>
void model_constructor(ClassSpec& spec) {
    spec.class_method<construct_from_model<D>>("from_detector_error_model($type, model)", kFromModelDoc);
}

// The same construction bound a second time: one native function serves
// one signature, so the class method needs an instance of its own.
template <auto Build>
auto build_again(const Args& args) {
    return Build(args);
}

// A family built only from a model: the constructor `Name(model, *,
// keywords)` and from_detector_error_model with the same keywords, both
// through Build.
template <auto Build>
ClassSpec model_class(const std::string& name, const std::string& keywords, const std::string& description = "",
                      const std::string& from_model_description = "") {
    const std::string arguments = keywords.empty() ? "model)" : "model, *, " + keywords + ")";
    ClassSpec spec = ClassSpec::of<Build>(name + "(" + arguments, description);
    spec.class_method<build_again<Build>>("from_detector_error_model($type, " + arguments, from_model_description);
    return spec;
}

// predict_observables and predict_observables_batch of a family built from
// a detector error model.
template <class D>
void observable_predictions(ClassSpec& spec) {
    spec.method<predict_observables_method<D>>(kPredictSignature, kPredictDoc);
    spec.method<predict_observables_batch_method<D>>(kPredictBatchSignature, kPredictBatchDoc);
}

// decode and batch_decode; the prefixes start the class's ValueError texts.
template <class D, Prefix Single, Prefix Batch, Syndrome Check = Syndrome::Layout,
          BatchShape Shape = BatchShape::Family>
void decode_methods(ClassSpec& spec) {
    spec.method<decode_method<&D::decode, Single, Check>>("decode($self, syndrome)");
    spec.method<batch_method<&D::batch_decode, Batch, Shape>>("batch_decode($self, syndromes)");
}

// The stream decoders' update, flush and decode.
template <class D>
void round_stream_methods(ClassSpec& spec) {
    spec.method<decode_method<&D::update, "Invalid syndrome: ">>("update($self, round_syndrome)");
    spec.method<plain_method<&D::flush>>("flush($self)");
    spec.method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)");
}

}  // namespace vornex::py
