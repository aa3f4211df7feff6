// BeliefMatchingDecoder: BP on a detector error model's full hypergraph, then
// matching on its graph view with posterior weights. Built only from a model;
// every method reads shared, immutable state, so calls share the object.
#include "bp/bp_arguments_py.h"
#include "matching/belief_matching.h"
#include "module/binding.h"
#include "module/member_groups.h"
#include "module/model_arg.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

// BP defaults for belief-matching: a short product-sum run is enough to
// reweight the graph (on circuit-level surface-code models it lowered the
// logical error rate well below min-sum's).
BpSettings belief_bp_defaults() {
    BpSettings s;
    s.method = BpMethod::ProductSum;
    s.max_iterations = 20;
    return s;
}

// The keywords after the model, with those defaults.
constexpr const char* kKeywords =
    "max_iter=20, bp_method='product_sum', ms_scaling_factor=1.0, schedule='parallel', stop='syndrome', "
    "bp_radius=None";

std::unique_ptr<BeliefMatchingDecoder> build(const Args& args) {
    ModelArg model_arg(args, 0);
    auto model = unwrap(matching_model_from(*model_arg));
    const BpSettings bp = bp_settings_argument(args, 1, belief_bp_defaults());
    const size_t radius = optional_count(args, 6).value_or(kUnboundedRadius);
    return std::make_unique<BeliefMatchingDecoder>(
        unwrap(BeliefMatchingDecoder::create(std::move(model), bp, radius)));
}

// The shared batch prediction with one more choice: plain=True matches with
// the prior weights.
PyObject* predict_observables_batch(const BeliefMatchingDecoder& decoder, const Args& args) {
    const bool bit_packed = args.get<std::optional<bool>>(1).value_or(false);
    const bool plain = args.get<std::optional<bool>>(2).value_or(false);
    detail::EventRows rows = detail::event_rows(args, 0, *decoder.model(), bit_packed, true);
    auto predictions = unwrap(without_interpreter(
        [&] { return decoder.predict_observables(rows.bytes, rows.n_shots, bit_packed, true, plain); }));
    const size_t width = BitRows{decoder.n_observables(), bit_packed}.row_bytes();
    return to_array(std::move(predictions), {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(width)});
}

}  // namespace

ModuleItem& belief_matching_decoder_class() {
    using D = BeliefMatchingDecoder;
    static ClassSpec spec = model_class<build>("BeliefMatchingDecoder", kKeywords)
            .method<predict_observables_method<D>>(kPredictSignature, kPredictDoc)
            .method<predict_observables_batch>(
                "predict_observables_batch($self, detection_events, *, bit_packed=False, plain=False)",
                "As every family's predict_observables_batch; plain=True matches with the prior weights instead "
                "of BP's posteriors.")
            .with(model_graph_getters<D>);
    return spec;
}

}  // namespace vornex::py
