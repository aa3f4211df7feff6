// DetectorGraph: the graph-network input built from a code and a syndrome.
#include "learned/gnn_graph.h"
#include "learned/graph_extras_py.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<DetectorGraph> construct(const Args& args) {
    const auto checks = args.get<CheckList>(0);
    const auto syndrome = args.get<std::vector<uint8_t>>(1);
    const GraphExtras extras = graph_extras_arg(args, 2);
    const auto n_qubits = args.get<std::optional<uint64_t>>(5);
    return std::make_unique<DetectorGraph>(unwrap(DetectorGraph::create(checks, syndrome, extras, n_qubits)));
}

PyObject* node_feature_dim(const Args&) { return py_int(DetectorGraph::kNodeFeatureDim); }
PyObject* edge_feature_dim(const Args&) { return py_int(DetectorGraph::kEdgeFeatureDim); }

PyObject* node_features(const DetectorGraph& g) { return py_value(g.node_feature_rows()); }
PyObject* edge_features(const DetectorGraph& g) { return py_value(g.edge_feature_rows()); }

}  // namespace

ModuleItem& detector_graph_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>(
            "DetectorGraph(check_to_qubits, syndrome, check_positions=None, check_types=None, base_weights=None, "
            "n_qubits=None)")
            .method<plain_method<&DetectorGraph::update_syndrome>>("update_syndrome($self, syndrome)")
            .static_method<node_feature_dim>("node_feature_dim()")
            .static_method<edge_feature_dim>("edge_feature_dim()")
            .getter<&DetectorGraph::n_nodes>("n_nodes")
            .getter<&DetectorGraph::n_edges>("n_edges")
            .getter<node_features>("node_features")
            .getter<edge_features>("edge_features")
            .getter<&DetectorGraph::edge_qubit_id>("edge_qubit_id")
            .getter<&DetectorGraph::edge_src>("edge_src")
            .getter<&DetectorGraph::edge_dst>("edge_dst");
    return spec;
}

}  // namespace vornex::py
