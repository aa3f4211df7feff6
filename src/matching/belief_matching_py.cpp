// BeliefMatchingDecoder: BP on a detector error model's full hypergraph, then
// matching on its graph view with posterior weights. Built only from a model;
// every method reads shared, immutable state, so calls share the object.
#include "classical/bp_arguments_py.h"
#include "matching/belief_matching.h"
#include "module/binding.h"
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

std::unique_ptr<BeliefMatchingDecoder> build(const Args& args) {
    const std::string text = model_text_argument(args[0]);
    auto model = unwrap(matching_model_from_text(text));
    const BpSettings bp = bp_settings_argument(args, 1, belief_bp_defaults());
    return std::make_unique<BeliefMatchingDecoder>(unwrap(BeliefMatchingDecoder::create(std::move(model), bp)));
}

// The class method: the same construction as the constructor, bound by a
// name of its own (one native function serves one signature).
std::unique_ptr<BeliefMatchingDecoder> from_detector_error_model(const Args& args) { return build(args); }

PyObject* predict_observables(const BeliefMatchingDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    const bool packed = args.get<std::optional<bool>>(1).value_or(false);
    const auto events = syndrome_bytes(view, "Invalid detection events: ");
    return to_array(unwrap(decoder.predict_observables(events, 1, packed, false)));
}

PyObject* predict_observables_batch(const BeliefMatchingDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 2);
    const bool packed = args.get<std::optional<bool>>(1).value_or(false);
    const bool plain = args.get<std::optional<bool>>(2).value_or(false);
    const auto events = syndrome_bytes(view, "Invalid detection events: ");
    const size_t n_shots = array_shape(view)[0];
    const size_t width = packed ? (decoder.n_observables() + 7) / 8 : decoder.n_observables();
    auto rows = unwrap(decoder.predict_observables(events, n_shots, packed, true, plain));
    return to_array(std::move(rows), {static_cast<npy_intp>(n_shots), static_cast<npy_intp>(width)});
}

}  // namespace

ModuleItem& belief_matching_decoder_class() {
    using D = BeliefMatchingDecoder;
    static ClassSpec spec =
        ClassSpec::of<build>("BeliefMatchingDecoder(model, *, max_iter=20, bp_method='product_sum', "
                             "ms_scaling_factor=1.0, schedule='parallel', stop='syndrome')")
            .class_method<from_detector_error_model>("from_detector_error_model($type, model, *, max_iter=20, "
                                 "bp_method='product_sum', ms_scaling_factor=1.0, schedule='parallel', "
                                 "stop='syndrome')")
            .method<predict_observables>("predict_observables($self, detection_events, *, bit_packed=False)")
            .method<predict_observables_batch>(
                "predict_observables_batch($self, detection_events, *, bit_packed=False, plain=False)")
            .getter<&D::n_detectors>("num_detectors")
            .getter<&D::n_observables>("num_observables")
            .getter<&D::n_edges>("num_edges");
    return spec;
}

}  // namespace vornex::py
