// RelayBPDecoder: Relay-BP from check lists or a detector error model. Every
// method reads shared, immutable state (workspaces are per thread), so calls
// share the object.
#include "bp/relay_bp_family.h"
#include "module/binding.h"
#include "module/model_arg.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

// The Relay keywords, in signature order from argument `first`:
// ms_scaling_factor, first_leg_strength, first_leg_iterations,
// leg_iterations, legs, strength_min, strength_max, solutions,
// solution_weight, fallback, osd_method, osd_order, seed.
RelaySettings relay_settings_from(const Args& args, size_t first) {
    RelaySettings s;
    size_t i = first;
    if (auto v = args.get<std::optional<double>>(i++)) s.ms_scaling_factor = *v;
    if (auto v = args.get<std::optional<double>>(i++)) s.first_strength = *v;
    if (auto v = args.get<std::optional<uint64_t>>(i++)) s.first_iterations = *v;
    if (auto v = args.get<std::optional<uint64_t>>(i++)) s.leg_iterations = *v;
    if (auto v = args.get<std::optional<uint64_t>>(i++)) s.legs = *v;
    if (auto v = args.get<std::optional<double>>(i++)) s.strength_min = *v;
    if (auto v = args.get<std::optional<double>>(i++)) s.strength_max = *v;
    if (auto v = args.get<std::optional<uint64_t>>(i++)) s.solutions = *v;
    if (auto v = args.get<std::optional<std::string>>(i++)) s.weight = unwrap(parse_relay_weight(*v));
    if (auto v = args.get<std::optional<std::string>>(i++)) s.fallback = unwrap(parse_relay_fallback(*v));
    if (auto v = args.get<std::optional<std::string>>(i++)) s.osd.method = unwrap(parse_osd_method(*v));
    if (auto v = optional_count(args, i++)) s.osd.order = *v;
    if (auto v = args.get<std::optional<uint64_t>>(i++)) s.seed = *v;
    return s;
}

#define VORNEX_RELAY_KEYWORDS                                                                                   \
    "ms_scaling_factor=1.0, first_leg_strength=0.125, first_leg_iterations=80, leg_iterations=60, legs=301, " \
    "strength_min=-0.24, strength_max=0.66, solutions=1, solution_weight='prior', fallback='osd', "            \
    "osd_method='osd_cs', osd_order=7, seed=0"

std::unique_ptr<RelayBpFamily> construct(const Args& args) {
    warn_if_check_matrix(args);
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    const double error_rate = args.get<double>(2);
    auto channel = args.get<std::optional<std::vector<double>>>(3);
    return std::make_unique<RelayBpFamily>(unwrap(
        RelayBpFamily::create(std::move(checks), n_qubits, error_rate, std::move(channel), relay_settings_from(args, 4))));
}

std::unique_ptr<RelayBpFamily> from_detector_error_model(const Args& args) {
    ModelArg model(args, 0);
    return std::make_unique<RelayBpFamily>(unwrap(RelayBpFamily::from_model(*model, relay_settings_from(args, 1))));
}

// decode_report: the correction with what produced it, as a dict.
PyObject* decode_report(const RelayBpFamily& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    RelayDecode report = unwrap(decoder.decode_report(syndrome_bytes(view, "Invalid syndrome: ")));
    Ref dict = Ref::checked(PyDict_New());
    auto set = [&](const char* key, PyObject* value) {
        Ref owned = Ref::steal(value);
        if (PyDict_SetItemString(dict.get(), key, owned.get()) < 0) throw_python_error();
    };
    const RelayOutcome& o = report.outcome;
    set("correction", to_array(std::move(report.correction)));
    set("legs", py_value(o.legs));
    set("iterations", py_value(o.iterations));
    set("solutions", py_value(o.solutions));
    set("fallback", py_str(!o.fallback ? "none" : decoder.engine().settings().fallback == RelayFallback::Osd ? "osd"
                                                                                                            : "hard_decision"));
    set("explained", py_bool(o.explained));
    return dict.release();
}

}  // namespace

ModuleItem& relay_bp_decoder_class() {
    using D = RelayBpFamily;
    static ClassSpec spec =
        ClassSpec::of<construct>(
            "RelayBPDecoder(check_to_qubits, n_qubits, error_rate, *, error_channel=None, " VORNEX_RELAY_KEYWORDS ")",
            "Relay-BP: min-sum BP with per-column memory strengths, run in legs (the first with one uniform "
            "strength, later ones with strengths drawn uniformly from [strength_min, strength_max], seeded) that "
            "each restart from the last leg's posteriors; after `solutions` distinct solutions, or `legs` legs, "
            "the lightest under `solution_weight` is returned, and a shot without one goes to `fallback`.")
            .class_method<from_detector_error_model>(
                "from_detector_error_model($type, model, *, " VORNEX_RELAY_KEYWORDS ")",
                "Build the decoder from a detector error model (DetectorErrorModel, model text, a path or a "
                "stim.DetectorErrorModel): one check per detector, one column per error mechanism, hyperedges "
                "included.")
            .method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)")
            .method<decode_report>(
                "decode_report($self, syndrome)",
                "The correction with what produced it: a dict of 'correction', 'legs', 'iterations', 'solutions', "
                "'fallback' ('none', or the post-processor that wrote the correction because no leg found a "
                "solution: 'osd' or 'hard_decision') and 'explained' (the correction reproduces the syndrome).")
            .method<batch_method<&D::batch_decode, "Invalid syndromes: ">>("batch_decode($self, syndromes)")
            .method<predict_observables_method<D>>(kPredictSignature, kPredictDoc)
            .method<predict_observables_batch_method<D>>(kPredictBatchSignature, kPredictBatchDoc)
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks")
            .getter<&D::num_observables>("num_observables");
    return spec;
}

}  // namespace vornex::py
