// StreamMatchingDecoder: detection events round by round, committed
// observable flips out, on the exact matching engine. The stream methods
// change the decoder and hold it exclusively; the whole-experiment methods
// only read it.
#include <optional>

#include "matching/stream/stream_matching.h"
#include "module/binding.h"
#include "module/model_arg.h"
#include "module/predict_methods.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

using D = StreamMatchingDecoder;

StreamOptions options_of(const Args& args) {
    StreamOptions options;
    options.window = args.get<std::optional<uint32_t>>(1);
    options.commit = args.get<std::optional<uint32_t>>(2);
    options.detectors_per_round = args.get<std::optional<uint32_t>>(3);
    options.rounds = args.get<std::optional<uint64_t>>(4);
    options.enable_correlations = args.get<std::optional<bool>>(5).value_or(false);
    return options;
}

// The model is anything a family's from_detector_error_model takes, or a
// stim.Circuit, whose model is taken with its errors decomposed into edges.
// One instance per entry point (the constructor and the class method), as a
// native function serves one signature.
template <int EntryPoint>
std::unique_ptr<D> construct(const Args& args) {
    if (is_stim_object(args[0], "Circuit")) {
        Ref kwargs = Ref::checked(Py_BuildValue("{s:O}", "decompose_errors", Py_True));
        Ref method = Ref::checked(PyObject_GetAttrString(args[0], "detector_error_model"));
        Ref empty = Ref::checked(PyTuple_New(0));
        Ref decomposed = Ref::checked(PyObject_Call(method.get(), empty.get(), kwargs.get()));
        Ref text = Ref::checked(PyObject_Str(decomposed.get()));
        const DetectorErrorModel dem = read_model_text(text.get());
        return std::make_unique<D>(unwrap(D::create(dem, options_of(args))));
    }
    ModelArg model(args, 0);
    return std::make_unique<D>(unwrap(D::create(*model, options_of(args))));
}

// A 1-D array of uint8 or bool detection events, C-contiguous (copied if it
// was not); `array` keeps the copy alive.
struct Events {
    Ref array;
    std::span<const uint8_t> bytes;
};

Events events_arg(const Args& args, size_t i) {
    PyArrayObject* array = detail::event_array(args, i);
    if (PyArray_NDIM(array) != 1) {
        PyErr_Format(PyExc_ValueError, "argument '%s': expected a 1-D array, got %d dimensions", args.name(i),
                     PyArray_NDIM(array));
        throw_python_error();
    }
    Events events;
    events.array = Ref::checked(reinterpret_cast<PyObject*>(PyArray_GETCONTIGUOUS(array)));
    auto* contiguous = reinterpret_cast<PyArrayObject*>(events.array.get());
    events.bytes = {static_cast<const uint8_t*>(PyArray_DATA(contiguous)), static_cast<size_t>(PyArray_SIZE(contiguous))};
    return events;
}

PyObject* flips_array(const D& decoder, uint64_t flips) {
    std::vector<uint8_t> out(decoder.num_observables());
    for (size_t o = 0; o < out.size(); ++o) out[o] = static_cast<uint8_t>((flips >> o) & 1);
    return to_array(std::move(out));
}

// The flips, and with `with_edges` the edges the call committed as a
// (k, 2) array of (round, model edge).
PyObject* stream_result(D& decoder, uint64_t flips, bool with_edges) {
    if (!with_edges) return flips_array(decoder, flips);
    const auto& edges = decoder.last_edges();
    std::vector<int64_t> flat;
    flat.reserve(2 * edges.size());
    for (const auto& [round, edge] : edges) {
        flat.push_back(static_cast<int64_t>(round));
        flat.push_back(edge);
    }
    Ref first = Ref::steal(flips_array(decoder, flips));
    Ref second = Ref::steal(to_array(std::move(flat), {static_cast<npy_intp>(edges.size()), 2}));
    return Ref::checked(PyTuple_Pack(2, first.get(), second.get())).release();
}

// Runs a stream call with edge recording as asked.
template <class Call>
PyObject* stream_call(D& decoder, bool with_edges, Call&& call) {
    decoder.record_edges(with_edges);
    auto result = call();
    decoder.record_edges(false);
    return stream_result(decoder, unwrap(std::move(result)), with_edges);
}

PyObject* update(D& decoder, const Args& args) {
    Events events = events_arg(args, 0);
    const bool with_edges = args.get<std::optional<bool>>(1).value_or(false);
    return stream_call(decoder, with_edges, [&] { return decoder.update(events.bytes); });
}

PyObject* extend(D& decoder, const Args& args) {
    Events events = events_arg(args, 0);
    const bool with_edges = args.get<std::optional<bool>>(1).value_or(false);
    return stream_call(decoder, with_edges, [&] { return decoder.extend(events.bytes); });
}

PyObject* flush(D& decoder, const Args& args) {
    std::optional<Events> final_round;
    if (args.given(0)) final_round = events_arg(args, 0);
    const bool with_edges = args.get<std::optional<bool>>(1).value_or(false);
    return stream_call(decoder, with_edges, [&] {
        return decoder.flush(final_round ? std::optional<std::span<const uint8_t>>(final_round->bytes) : std::nullopt);
    });
}

PyObject* decode_stream(const D& decoder, const Args& args) {
    Events events = events_arg(args, 0);
    const bool parallel = args.get<std::optional<bool>>(1).value_or(true);
    return flips_array(decoder, unwrap(decoder.decode_stream(events.bytes, parallel)));
}

PyObject* round_size(const D& decoder, const Args& args) {
    return py_value(unwrap(decoder.round_size(args.get<uint64_t>(0))));
}

PyObject* latency_stats(const D& decoder, const Args&) {
    const stream::LatencyHistogram& h = decoder.latency();
    Ref dict = Ref::checked(PyDict_New());
    auto put = [&](const char* key, PyObject* value) {
        Ref owned = Ref::steal(value);
        if (PyDict_SetItemString(dict.get(), key, owned.get()) < 0) throw_python_error();
    };
    put("count", py_value(h.count()));
    put("mean_ns", py_value(h.mean()));
    put("p50_ns", py_value(h.quantile(0.5)));
    put("p99_ns", py_value(h.quantile(0.99)));
    put("max_ns", py_value(h.max()));
    return dict.release();
}

PyObject* clear_latency_stats(D& decoder, const Args&) {
    decoder.clear_latency();
    return py_none();
}

constexpr const char* kOptions =
    "window=None, commit=None, detectors_per_round=None, rounds=None, enable_correlations=False";

}  // namespace

ModuleItem& stream_matching_decoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct<0>>(
            std::string("StreamMatchingDecoder(model, *, ") + kOptions + ")",
            "Decode a memory experiment round by round with exact matching on sliding windows. `model` is a "
            "detector error model (as from_detector_error_model takes it) or a stim.Circuit; its detectors form "
            "rounds by their last coordinate, or by blocks of `detectors_per_round` ids. Each window of `window` "
            "rounds commits its oldest `commit` rounds (defaults: the model's graph-like distance d for the "
            "commit and the buffer). `rounds` is the length of each experiment: the model's by default, longer or "
            "shorter when the model's middle rounds repeat, 0 for one ended only by flush(final_round). With "
            "enable_correlations each window is matched in two passes, as MatchingDecoder's correlated matching.")
            .class_method<construct<1>>(std::string("from_detector_error_model($type, model, *, ") + kOptions + ")",
                                     "The same as the constructor, under the name every family has.")
            .method<update>("update($self, round_events, *, with_edges=False)",
                            "Take the next round's detection events (uint8 or bool, in the round's detector order) "
                            "and return the observable flips committed so far in this experiment; with_edges also "
                            "returns the edges this call committed as a (k, 2) int64 array of (round, edge of the "
                            "model's graph view).")
            .method<extend>("extend($self, events, *, with_edges=False)",
                            "update for consecutive whole rounds given in one array.")
            .method<flush>("flush($self, final_round=None, *, with_edges=False)",
                           "End the experiment and return all its observable flips, then start the next. "
                           "final_round, when given, is the experiment's final round (the model's last).")
            .method<decode_stream>("decode_stream($self, events, *, parallel=True)",
                                   "Observable flips of one whole experiment of `rounds` rounds, decoded by parallel "
                                   "windows (on the worker pool when parallel).")
            .method<round_size>("round_size($self, round)", "Detection events of round `round` of an experiment.")
            .method<latency_stats>("latency_stats($self)",
                                   "Time spent per round given, in ns: count, mean_ns, p50_ns, p99_ns, max_ns.")
            .method<clear_latency_stats>("clear_latency_stats($self)", "Forget the recorded times.")
            .with(observable_predictions<D>)
            .getter<&D::num_detectors>("num_detectors", "Detectors of the model (the width of a predicted shot).")
            .getter<&D::num_observables>("num_observables", "Observables of the model.")
            .getter<&D::window>("window", "Rounds matched at once.")
            .getter<&D::commit>("commit", "Rounds committed per window.")
            .getter<&D::rounds>("rounds", "Rounds of each experiment; 0 when only flush(final_round) ends one.")
            .getter<&D::model_rounds>("model_rounds", "Rounds of the model.")
            .getter<&D::distance>("distance",
                                  "Fewest edges of a path flipping an observable between boundaries: the "
                                  "default commit and buffer.")
            .getter<&D::current_round>("current_round", "Rounds given to the current experiment.")
            .getter<&D::enable_correlations>("enable_correlations",
                                             "Whether windows are matched with correlations (two passes).");
    return spec;
}

}  // namespace vornex::py
