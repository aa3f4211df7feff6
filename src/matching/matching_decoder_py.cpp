// MatchingDecoder: exact minimum-weight matching on the sparse engine, with
// correlated (two-pass) matching and per-shot edge weights for a decoder
// built from a model. All methods read the decoder only (scratch lives on
// the calling thread), so they share the object.
#include "matching/matching_decoder.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

using D = MatchingDecoder;

std::unique_ptr<D> from_detector_error_model(const Args& args) {
    ModelArg model(args, 0);
    const bool correlations = args.get<std::optional<bool>>(1).value_or(false);
    return std::make_unique<D>(unwrap(D::from_model(*model, correlations)));
}

// enable_correlations=None means as built.
bool correlated_arg(const D& decoder, const Args& args, size_t i) {
    return args.get<std::optional<bool>>(i).value_or(decoder.correlations_enabled());
}

// reweight: pairs (edge, weight) for this shot only.
std::vector<EdgeWeight> reweight_arg(const Args& args, size_t i) {
    std::vector<EdgeWeight> overrides;
    if (!args.given(i)) return overrides;
    for (const auto& [edge, weight] : args.get<std::vector<std::pair<uint32_t, double>>>(i))
        overrides.push_back({edge, weight});
    return overrides;
}

PyObject* predict_observables(const D& decoder, const Args& args) {
    const ModelObservables& model = detail::model_of(decoder);
    const bool bit_packed = args.get<std::optional<bool>>(1).value_or(false);
    detail::EventRows rows = detail::event_rows(args, 0, model, bit_packed, false);
    const std::vector<EdgeWeight> overrides = reweight_arg(args, 3);
    return to_array(unwrap(
        decoder.predict_observables(rows.bytes, 1, bit_packed, false, correlated_arg(decoder, args, 2), overrides)));
}

PyObject* predict_observables_batch(const D& decoder, const Args& args) {
    const ModelObservables& model = detail::model_of(decoder);
    const bool bit_packed = args.get<std::optional<bool>>(1).value_or(false);
    detail::EventRows rows = detail::event_rows(args, 0, model, bit_packed, true);
    const bool correlated = correlated_arg(decoder, args, 2);
    // Like every family's batch: the lock released, and Ctrl-C looked for between the pool's slices.
    auto predictions = unwrap(without_interpreter(
        [&] { return decoder.predict_observables(rows.bytes, rows.n_shots, bit_packed, true, correlated); }));
    const size_t width = BitRows{model.num_observables(), bit_packed}.row_bytes();
    return to_array(std::move(predictions), {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(width)});
}

PyObject* decode_to_edges(const D& decoder, const Args& args) {
    const ModelObservables nodes{static_cast<uint32_t>(decoder.n_checks()), {}};
    detail::EventRows rows = detail::event_rows(args, 0, nodes, false, false);
    const std::vector<EdgeWeight> overrides = reweight_arg(args, 2);
    const std::vector<uint32_t> edges =
        unwrap(decoder.decode_to_edges(rows.bytes, correlated_arg(decoder, args, 1), overrides));
    std::vector<int64_t> pairs;
    pairs.reserve(2 * edges.size());
    for (const uint32_t e : edges) {
        const auto [u, v] = decoder.matcher().ends(e);
        pairs.push_back(u);
        pairs.push_back(v == sparse::kBoundary ? -1 : int64_t{v});
    }
    return to_array(std::move(pairs), {static_cast<npy_intp>(edges.size()), 2});
}

constexpr const char* kFromModelWithCorrelationsDoc =
    "Build the decoder from a detector error model (DetectorErrorModel, model text, a path or a\n"
    "stim.DetectorErrorModel): one check per detector, one column per edge of its graph view.\n"
    "enable_correlations=True also keeps which edges each decomposed error ('D1 D2 ^ D5 D6') flips\n"
    "together; predictions then match in two passes by default (correlated matching): the edges of\n"
    "the first pass lower the weights of the edges they share an error with to ln((1 - q) / q), q\n"
    "the probability of the partner given that the edge fired, and the second pass matches on those\n"
    "weights. An error flipping several edges with probability above 1/2 is refused.";
constexpr const char* kPredictWithCorrelationsDoc =
    "Predicted observable flips of one shot: uint8 (num_observables,), or bit-packed\n"
    "(ceil(num_observables / 8),). enable_correlations=None matches as the decoder was built;\n"
    "reweight is a list of (edge, weight) pairs, weights in ln((1 - p) / p) units, used for this\n"
    "shot only (edge = column of decode()).";
constexpr const char* kPredictBatchWithCorrelationsDoc =
    "Predicted observable flips of (shots, num_detectors) detection events, or (shots,\n"
    "ceil(num_detectors / 8)) bit-packed, in the same packing; shots run on the worker pool.\n"
    "enable_correlations=None matches as the decoder was built.";
constexpr const char* kDecodeToEdgesDoc =
    "The edges of one shot's matching as an int64 (edges, 2) array of detector pairs, -1 in the\n"
    "second column for the boundary, each edge once (edges on an even number of matched paths\n"
    "cancel). enable_correlations and reweight as for predict_observables.";

}  // namespace

ModuleItem& matching_decoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("MatchingDecoder(check_to_qubits, n_qubits, *, weights=None)")
            .with(weighted_check_matrix_constructor<D>)
            .class_method<from_detector_error_model>(
                "from_detector_error_model($type, model, *, enable_correlations=False)",
                kFromModelWithCorrelationsDoc)
            .with(decode_methods<D, "Invalid syndrome: ", "Invalid syndromes: ">)
            .method<predict_observables>(
                "predict_observables($self, detection_events, *, bit_packed=False, enable_correlations=None, "
                "reweight=None)",
                kPredictWithCorrelationsDoc)
            .method<predict_observables_batch>(
                "predict_observables_batch($self, detection_events, *, bit_packed=False, enable_correlations=None)",
                kPredictBatchWithCorrelationsDoc)
            .method<decode_to_edges>("decode_to_edges($self, detection_events, *, enable_correlations=None, "
                                     "reweight=None)",
                                     kDecodeToEdgesDoc)
            .with(size_getters<D>)
            .getter<&D::num_observables>("num_observables")
            .getter<&D::correlations_enabled>(
                "enable_correlations",
                "Whether the decoder was built with enable_correlations=True (and predicts with them by default).");
    return spec;
}

}  // namespace vornex::py
