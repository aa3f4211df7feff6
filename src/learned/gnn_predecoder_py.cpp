// GNNPredecoder: edge weights of a graph network over DetectorGraph inputs.
#include "base/wyrand.h"
#include "learned/gnn_predecoder.h"
#include "module/binding.h"
#include "module/released_work.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<GNNPredecoder> construct(const Args& args) {
    const auto node_feat_dim = args.get<uint64_t>(0);
    const auto edge_feat_dim = args.get<uint64_t>(1);
    const auto hidden_size = args.get<uint64_t>(2);
    const auto n_layers = args.get<uint64_t>(3);
    if (const auto seed = args.get<std::optional<uint64_t>>(4)) {
        Wyrand seed_source(*seed);
        return std::make_unique<GNNPredecoder>(node_feat_dim, edge_feat_dim, hidden_size, n_layers, seed_source);
    }
    return std::make_unique<GNNPredecoder>(node_feat_dim, edge_feat_dim, hidden_size, n_layers);
}

PyObject* forward(const GNNPredecoder& net, const Args& args) {
    Borrowed<const DetectorGraph> graph(args, 0);
    return py_value(unwrap(net.forward(*graph)));
}

PyObject* predict_with_node_probs(const GNNPredecoder& net, const Args& args) {
    Borrowed<const DetectorGraph> graph(args, 0);
    return py_value(unwrap(net.predict_with_node_probs(*graph)));
}

PyObject* train(GNNPredecoder& net, const Args& args) {
    BorrowedItems<const DetectorGraph> graphs(args, 0);
    const auto targets = args.get<std::vector<std::vector<double>>>(1);
    const auto n_epochs = args.get<uint64_t>(2);
    unwrap(with_progress(args[3],
                         [&](ProgressSink* progress) { return net.train(graphs.get(), targets, n_epochs, progress); }));
    return py_none();
}

// Property values convert under the setter's own parameter name.
double float_value(PyObject* value, const char* parameter) {
    try {
        return from_python<double>(value);
    } catch (const PythonError&) {
        add_argument_note(parameter);
        throw;
    }
}

void set_learning_rate(GNNPredecoder& net, PyObject* value) { net.set_learning_rate(float_value(value, "lr")); }
void set_l2_lambda(GNNPredecoder& net, PyObject* value) { net.set_l2_lambda(float_value(value, "val")); }

}  // namespace

ModuleItem& gnn_predecoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>("GNNPredecoder(node_feat_dim, edge_feat_dim, hidden_size, n_layers, *, seed=None)")
            .method<plain_method<&GNNPredecoder::save_weights>>("save_weights($self, path)")
            .method<plain_method<&GNNPredecoder::load_weights>>("load_weights($self, path)")
            .method<forward>("forward($self, graph)")
            .method<train>("train($self, graphs, targets, n_epochs, *, progress=None)")
            .method<predict_with_node_probs>("predict_with_node_probs($self, graph)")
            .property<&GNNPredecoder::learning_rate, set_learning_rate>("learning_rate")
            .property<&GNNPredecoder::l2_lambda, set_l2_lambda>("l2_lambda");
    return spec;
}

}  // namespace vornex::py
