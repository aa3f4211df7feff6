// HybridDecoder: graph-network weights fed to sparse matching.
#include "learned/graph_extras_py.h"
#include "learned/hybrid_decoder.h"
#include "module/binding.h"
#include "module/released_work.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

// The settings after the code (graph extras, network sizes, seed) start at
// argument `first` in both the constructor and from_check_matrix.
std::unique_ptr<HybridDecoder> build(CheckList checks, std::optional<uint64_t> n_qubits, const Args& args,
                                     size_t first) {
    GraphExtras extras = graph_extras_arg(args, first);
    const auto hidden = args.get<std::optional<uint64_t>>(first + 3);
    const auto layers = args.get<std::optional<uint64_t>>(first + 4);
    const auto seed = args.get<std::optional<uint64_t>>(first + 5);
    return std::make_unique<HybridDecoder>(
        unwrap(HybridDecoder::create(std::move(checks), n_qubits, std::move(extras), hidden, layers, seed)));
}

std::unique_ptr<HybridDecoder> construct(const Args& args) {
    warn_if_check_matrix(args);
    auto checks = args.get<CheckList>(0);
    const auto n_qubits = args.get<std::optional<uint64_t>>(1);
    return build(std::move(checks), n_qubits, args, 2);
}

// The create factory takes its graph inputs as one GraphExtras, so the shared
// from_check_matrix_with template does not fit; the column count is n_qubits.
std::unique_ptr<HybridDecoder> from_matrix(const Args& args) {
    CheckMatrix matrix = read_check_matrix(args[0], args.name(0));
    return build(std::move(matrix.checks), matrix.n_columns, args, 1);
}

PyObject* train(HybridDecoder& decoder, const Args& args) {
    const auto n_samples = args.get<uint64_t>(0);
    const auto n_epochs = args.get<uint64_t>(1);
    const auto error_rate = args.get<double>(2);
    return py_float(unwrap(with_progress(
        args[3], [&](ProgressSink* progress) { return decoder.train(n_samples, n_epochs, error_rate, progress); })));
}

PyObject* train_bp(HybridDecoder& decoder, const Args& args) {
    const auto n_samples = args.get<uint64_t>(0);
    const auto n_epochs = args.get<uint64_t>(1);
    const auto error_rate = args.get<double>(2);
    const auto max_bp_iter = args.get<uint64_t>(3);
    return py_float(unwrap(with_progress(args[4], [&](ProgressSink* progress) {
        return decoder.train_bp(n_samples, n_epochs, error_rate, max_bp_iter, progress);
    })));
}

constexpr Prefix kSyndrome = "Invalid syndrome: ";
constexpr Prefix kSyndromes = "Invalid syndromes: ";

}  // namespace

ModuleItem& hybrid_decoder_class() {
    using D = HybridDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct>("HybridDecoder(check_to_qubits, n_qubits=None, check_positions=None, "
                                 "check_types=None, base_weights=None, gnn_hidden_size=None, gnn_n_layers=None, *, "
                                 "seed=None)")
            .class_method<from_matrix>("from_check_matrix($type, check_matrix, *, check_positions=None, "
                                       "check_types=None, base_weights=None, gnn_hidden_size=None, "
                                       "gnn_n_layers=None, seed=None)",
                                       kFromCheckMatrixDoc)
            .method<decode_method<&D::decode_hybrid, kSyndrome, Syndrome::AnyRank>>("decode_hybrid($self, syndrome)")
            .method<decode_method<&D::decode_heuristic, kSyndrome, Syndrome::AnyRank>>(
                "decode_heuristic($self, syndrome)")
            .method<decode_method<&D::decode_standard, kSyndrome, Syndrome::AnyRank>>(
                "decode_standard($self, syndrome)")
            .method<batch_method<&D::batch_decode_hybrid, kSyndromes>>("batch_decode_hybrid($self, syndromes)")
            .method<batch_method<&D::batch_decode_standard, kSyndromes>>("batch_decode_standard($self, syndromes)")
            .method<plain_method<&D::save_weights>>("save_weights($self, path)")
            .method<plain_method<&D::load_weights>>("load_weights($self, path)")
            .method<train>("train($self, n_samples, n_epochs, error_rate, *, progress=None)",
                           "Entraîne le GNN interne avec un générateur de dataset intégré.\n"
                           "\n"
                           "Args:\n"
                           "    n_samples: nombre d'exemples de training à générer\n"
                           "    n_epochs: nombre d'epochs d'entraînement\n"
                           "    error_rate: taux d'erreur pour la génération de syndromes (défaut: 0.1)\n"
                           "\n"
                           "Returns:\n"
                           "    Loss MSE moyenne sur le dernier epoch.")
            .method<train_bp>("train_bp($self, n_samples, n_epochs, error_rate, max_bp_iter, *, progress=None)",
                              "Entraîne le GNN avec des cibles marginales BP (Belief Propagation).\n"
                              "\n"
                              "Args:\n"
                              "    n_samples: nombre d'exemples de training à générer\n"
                              "    n_epochs: nombre d'epochs d'entraînement\n"
                              "    error_rate: taux d'erreur pour la génération de syndromes (défaut: 0.1)\n"
                              "    max_bp_iter: nombre d'itérations BP (défaut: 20)\n"
                              "\n"
                              "Returns:\n"
                              "    Loss MSE moyenne sur le dernier epoch.")
            .with(size_getters<D>);
    return spec;
}

}  // namespace vornex::py
