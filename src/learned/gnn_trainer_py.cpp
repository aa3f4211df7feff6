// GNNTrainer: deterministic datasets and back-off training of a GNNPredecoder.
#include "learned/gnn_trainer.h"
#include "module/binding.h"
#include "module/released_work.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<GNNTrainer> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    const auto n_qubits = args.get<uint64_t>(1);
    const auto error_rate = args.get<double>(2);
    return std::make_unique<GNNTrainer>(std::move(checks), n_qubits, error_rate);
}

PyObject* train(const GNNTrainer& trainer, const Args& args) {
    Borrowed<GNNPredecoder> gnn(args, 0);
    const auto n_samples = args.get<uint64_t>(1);
    const auto n_epochs = args.get<uint64_t>(2);
    return py_float(unwrap(
        with_progress(args[3], [&](ProgressSink* progress) { return trainer.train(*gnn, n_samples, n_epochs, progress); })));
}

PyObject* generate_dataset(const GNNTrainer& trainer, const Args& args) {
    const auto n_samples = args.get<uint64_t>(0);
    return py_int(unwrap(with_progress(args[1], [&](ProgressSink* progress) {
                      return trainer.matching_dataset(n_samples, progress);
                  })).graphs.size());
}

PyObject* train_bp(const GNNTrainer& trainer, const Args& args) {
    Borrowed<GNNPredecoder> gnn(args, 0);
    const auto n_samples = args.get<uint64_t>(1);
    const auto n_epochs = args.get<uint64_t>(2);
    const auto max_bp_iter = args.get<uint64_t>(3);
    return py_float(unwrap(with_progress(args[4], [&](ProgressSink* progress) {
        return trainer.train_bp(*gnn, n_samples, n_epochs, max_bp_iter, progress);
    })));
}

}  // namespace

ModuleItem& gnn_trainer_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>("GNNTrainer(check_to_qubits, n_qubits, error_rate)",
                                 "Generates deterministic training samples of a code and trains a GNNPredecoder "
                                 "on matching or BP targets.")
            .method<train>("train($self, gnn, n_samples, n_epochs, *, progress=None)",
                           "Entraîne un GNNPredecoder et retourne la loss finale.\n"
                           "\n"
                           "Args:\n"
                           "    gnn: GNNPredecoder à entraîner (modifié en place)\n"
                           "    n_samples: nombre d'exemples de training à générer\n"
                           "    n_epochs: nombre d'epochs d'entraînement\n"
                           "\n"
                           "Returns:\n"
                           "    Loss MSE moyenne sur le dernier epoch.")
            .method<generate_dataset>("generate_dataset($self, n_samples, *, progress=None)",
                                      "Génère un dataset de training et retourne la taille.")
            .method<train_bp>("train_bp($self, gnn, n_samples, n_epochs, max_bp_iter, *, progress=None)",
                              "Entraîne un GNNPredecoder avec cibles marginales BP et retourne la loss finale.\n"
                              "\n"
                              "Args:\n"
                              "    gnn: GNNPredecoder à entraîner (modifié en place)\n"
                              "    n_samples: nombre d'exemples de training à générer\n"
                              "    n_epochs: nombre d'epochs d'entraînement\n"
                              "    max_bp_iter: nombre d'itérations BP pour les marginales (défaut: 20)\n"
                              "\n"
                              "Returns:\n"
                              "    Loss MSE moyenne sur le dernier epoch.");
    return spec;
}

}  // namespace vornex::py
