// HybridDecoder: graph-network weights fed to sparse matching.
#include "learned/hybrid_decoder.h"
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"

namespace vornex::py {
namespace {

std::unique_ptr<HybridDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    const auto n_qubits = args.get<std::optional<uint64_t>>(1);
    GraphExtras extras;
    extras.check_positions = args.get<std::optional<std::vector<std::pair<double, double>>>>(2);
    extras.check_types = args.get<std::optional<std::vector<bool>>>(3);
    extras.base_weights = args.get<std::optional<std::vector<double>>>(4);
    const auto hidden = args.get<std::optional<uint64_t>>(5);
    const auto layers = args.get<std::optional<uint64_t>>(6);
    return std::make_unique<HybridDecoder>(
        HybridDecoder::create(std::move(checks), n_qubits, std::move(extras), hidden, layers));
}

using SingleDecode = Result<std::vector<uint8_t>> (HybridDecoder::*)(std::span<const uint8_t>);
using BatchDecode = Result<std::vector<uint8_t>> (HybridDecoder::*)(std::span<const uint8_t>, size_t);

template <SingleDecode Decode>
PyObject* single(HybridDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, -1);
    const auto syndrome = syndrome_bytes(view, "Invalid syndrome: ");
    return to_array(unwrap((decoder.*Decode)(syndrome)));
}

template <BatchDecode Decode>
PyObject* batch(HybridDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, -1);
    const SyndromeRows rows = syndrome_rows(view, decoder.n_checks(), "Invalid syndromes: ");
    return to_array(unwrap((decoder.*Decode)(rows.bytes, rows.n_shots)),
                    {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(decoder.n_qubits())});
}

PyObject* save_weights(const HybridDecoder& decoder, const Args& args) {
    unwrap(decoder.save_weights(args.get<std::string>(0)));
    return py_none();
}

PyObject* load_weights(HybridDecoder& decoder, const Args& args) {
    unwrap(decoder.load_weights(args.get<std::string>(0)));
    return py_none();
}

PyObject* train(HybridDecoder& decoder, const Args& args) {
    const auto n_samples = args.get<uint64_t>(0);
    const auto n_epochs = args.get<uint64_t>(1);
    const auto error_rate = args.get<double>(2);
    return py_float(unwrap(decoder.train(n_samples, n_epochs, error_rate)));
}

PyObject* train_bp(HybridDecoder& decoder, const Args& args) {
    const auto n_samples = args.get<uint64_t>(0);
    const auto n_epochs = args.get<uint64_t>(1);
    const auto error_rate = args.get<double>(2);
    const auto max_bp_iter = args.get<uint64_t>(3);
    return py_float(unwrap(decoder.train_bp(n_samples, n_epochs, error_rate, max_bp_iter)));
}

}  // namespace

ModuleItem& hybrid_decoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>("HybridDecoder(check_to_qubits, n_qubits=None, check_positions=None, "
                                 "check_types=None, base_weights=None, gnn_hidden_size=None, gnn_n_layers=None)")
            .method<single<&HybridDecoder::decode_hybrid>>("decode_hybrid($self, syndrome)")
            .method<single<&HybridDecoder::decode_heuristic>>("decode_heuristic($self, syndrome)")
            .method<single<&HybridDecoder::decode_standard>>("decode_standard($self, syndrome)")
            .method<batch<&HybridDecoder::batch_decode_hybrid>>("batch_decode_hybrid($self, syndromes)")
            .method<batch<&HybridDecoder::batch_decode_standard>>("batch_decode_standard($self, syndromes)")
            .method<save_weights>("save_weights($self, path)")
            .method<load_weights>("load_weights($self, path)")
            .method<train>("train($self, n_samples, n_epochs, error_rate)",
                           "Entraîne le GNN interne avec un générateur de dataset intégré.\n"
                           "\n"
                           "Args:\n"
                           "    n_samples: nombre d'exemples de training à générer\n"
                           "    n_epochs: nombre d'epochs d'entraînement\n"
                           "    error_rate: taux d'erreur pour la génération de syndromes (défaut: 0.1)\n"
                           "\n"
                           "Returns:\n"
                           "    Loss MSE moyenne sur le dernier epoch.")
            .method<train_bp>("train_bp($self, n_samples, n_epochs, error_rate, max_bp_iter)",
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
            .getter<&HybridDecoder::n_qubits>("n_qubits")
            .getter<&HybridDecoder::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
