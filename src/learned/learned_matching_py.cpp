// LearnedMatchingDecoder: graph-network edge estimates as matching weights.
// Predictions read the decoder only and share the object; training and
// loading replace the network and hold it exclusively.
#include "learned/learned_matching.h"
#include "learned/trained_cache.h"
#include "module/binding.h"
#include "module/member_groups.h"
#include "module/released_work.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

// Built, then trained on the budget or loaded from the cache (a compile in
// each of sinter's workers trains once per model and budget).
std::unique_ptr<LearnedMatchingDecoder> build(const Args& args) {
    ModelArg model(args, 0);
    const auto hidden = args.get<std::optional<uint64_t>>(1).value_or(16);
    const auto layers = args.get<std::optional<uint64_t>>(2).value_or(2);
    const auto seed = args.get<std::optional<uint64_t>>(3).value_or(0);
    TrainingBudget budget;
    budget.samples = args.get<std::optional<uint64_t>>(4).value_or(0);
    budget.seed = args.get<std::optional<uint64_t>>(5).value_or(0);
    budget.validation_shots = args.get<std::optional<uint64_t>>(6).value_or(1000);
    const std::string cache_dir = args.get<std::optional<std::string>>(7).value_or(default_cache_directory());
    auto decoder = std::make_unique<LearnedMatchingDecoder>(
        unwrap(LearnedMatchingDecoder::from_model(*model, hidden, layers, seed)));
    PythonProgress signals(nullptr);  // Ctrl-C stops training (nothing is cached then)
    unwrap(train_or_load(*decoder, *model, hidden, layers, seed, budget, cache_dir, &signals));
    return decoder;
}

PyObject* train(LearnedMatchingDecoder& decoder, const Args& args) {
    const auto n_samples = args.get<uint64_t>(0);
    const auto seed = args.get<std::optional<uint64_t>>(1).value_or(0);
    const auto validation_shots = args.get<std::optional<uint64_t>>(2).value_or(1000);
    const LearnedTraining report = unwrap(with_progress(
        args[3], [&](ProgressSink* progress) { return decoder.train(n_samples, seed, validation_shots, progress); }));
    return py_tuple(py_float(report.best_error_rate), py_float(report.prior_error_rate), py_int(report.samples));
}

constexpr const char* kTrainDoc =
    "Trains the network on n_samples fresh samples of the model's noise (seeded), keeping the\n"
    "network of lowest logical error rate on validation_shots held-out samples. Returns\n"
    "(best_error_rate, prior_error_rate, samples): the kept network's held-out rate, the rate of\n"
    "matching with the model's own weights on the same shots, and the samples drawn. Ctrl-C stops\n"
    "training with the best network so far in place.";

}  // namespace

ModuleItem& learned_matching_decoder_class() {
    using D = LearnedMatchingDecoder;
    static ClassSpec spec =
        model_class<build>("LearnedMatchingDecoder",
                           "hidden_size=16, n_layers=2, seed=0, train_samples=0, train_seed=0, "
                           "validation_shots=1000, cache_dir=None")
            .method<train>("train($self, n_samples, *, seed=0, validation_shots=1000, progress=None)", kTrainDoc)
            .method<decode_method<&D::edge_weights, "Invalid detection events: ">>(
                "edge_weights($self, detection_events)")
            .with(observable_predictions<D>)
            .method<plain_method<&D::save_weights>>("save_weights($self, path)")
            .method<plain_method<&D::load_weights>>("load_weights($self, path)")
            .getter<&D::n_detectors>("num_detectors")
            .getter<&D::n_edges>("num_edges")
            .getter<&D::num_observables>("num_observables");
    return spec;
}

}  // namespace vornex::py
