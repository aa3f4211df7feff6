// GNNPredecoder: edge weights of a graph network over DetectorGraph inputs.
#include <deque>

#include "learned/gnn_predecoder.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<GNNPredecoder> construct(const Args& args) {
    const auto node_feat_dim = args.get<uint64_t>(0);
    const auto edge_feat_dim = args.get<uint64_t>(1);
    const auto hidden_size = args.get<uint64_t>(2);
    const auto n_layers = args.get<uint64_t>(3);
    return std::make_unique<GNNPredecoder>(node_feat_dim, edge_feat_dim, hidden_size, n_layers);
}

// A DetectorGraph argument, borrowed shared for as long as the guard lives.
const DetectorGraph& graph_arg(PyObject* object, const char* argument, std::deque<BorrowGuard>& guards) {
    Instance<DetectorGraph>* graph = instance_arg<DetectorGraph>(object, argument, "DetectorGraph");
    guards.emplace_back(graph->borrow, Access::Shared);
    return *graph->native;
}

PyObject* save_weights(const GNNPredecoder& net, const Args& args) {
    unwrap(net.save_weights(args.get<std::string>(0)));
    return py_none();
}

PyObject* load_weights(GNNPredecoder& net, const Args& args) {
    unwrap(net.load_weights(args.get<std::string>(0)));
    return py_none();
}

PyObject* forward(const GNNPredecoder& net, const Args& args) {
    std::deque<BorrowGuard> guards;
    const DetectorGraph& graph = graph_arg(args[0], args.name(0), guards);
    return py_value(unwrap(net.forward(graph)));
}

PyObject* predict_with_node_probs(const GNNPredecoder& net, const Args& args) {
    std::deque<BorrowGuard> guards;
    const DetectorGraph& graph = graph_arg(args[0], args.name(0), guards);
    return py_value(unwrap(net.predict_with_node_probs(graph)));
}

PyObject* train(GNNPredecoder& net, const Args& args) {
    std::deque<BorrowGuard> guards;
    std::vector<const DetectorGraph*> graphs;
    try {
        SequenceItems items(args[0]);
        for (Py_ssize_t i = 0; i < items.size(); ++i) graphs.push_back(&graph_arg(items[i], args.name(0), guards));
    } catch (const PythonError&) {
        add_argument_note(args.name(0));
        throw;
    }
    const auto targets = args.get<std::vector<std::vector<double>>>(1);
    const auto n_epochs = args.get<uint64_t>(2);
    unwrap(net.train(graphs, targets, n_epochs));
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
        ClassSpec::of<construct>("GNNPredecoder(node_feat_dim, edge_feat_dim, hidden_size, n_layers)")
            .method<save_weights>("save_weights($self, path)")
            .method<load_weights>("load_weights($self, path)")
            .method<forward>("forward($self, graph)")
            .method<train>("train($self, graphs, targets, n_epochs)")
            .method<predict_with_node_probs>("predict_with_node_probs($self, graph)")
            .property<&GNNPredecoder::learning_rate, set_learning_rate>("learning_rate")
            .property<&GNNPredecoder::l2_lambda, set_l2_lambda>("l2_lambda");
    return spec;
}

}  // namespace vornex::py
