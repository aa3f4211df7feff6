#include "matching/sparse_edge_matcher.h"

#include <atomic>
#include <string>

#include "base/thread_scratch.h"
#include "code/check_graph.h"
#include "matching/sparse/path_corrections.h"
#include "matching/sparse/path_search.h"
#include "matching/sparse/sparse_engine.h"

namespace vornex {

namespace {

// One thread's state for every call of every SparseEdgeMatcher.
struct SparseMatcherScratch {
    uint64_t graph_serial = 0;         // matcher whose graph `graph` copies; 0 before the first call
    bool holds_build_weights = false;  // `graph` carries that matcher's build weights
    sparse::ReweightedGraph graph;     // this thread's copy, reweighted call by call
    sparse::SparseEngine engine;
    sparse::PathSearch paths;
    sparse::SparseMatching matching;
    std::vector<sparse::NodeId> events;  // fired detectors of the current call
    std::vector<uint32_t> edge_ids;      // edges of the current matched path
    bool busy = false;
};

std::atomic<uint64_t> next_serial{1};

}  // namespace

Result<SparseEdgeMatcher> SparseEdgeMatcher::create(uint32_t n_detectors,
                                                    std::span<const std::pair<uint32_t, uint32_t>> edge_ends,
                                                    std::span<const double> weights) {
    if (weights.size() != edge_ends.size()) {
        return value_error("weights has " + std::to_string(weights.size()) + " entries, expected one per edge (" +
                           std::to_string(edge_ends.size()) + ")");
    }
    std::vector<sparse::GraphEdge> edges(edge_ends.size());
    for (size_t k = 0; k < edges.size(); ++k) {
        const auto [u, v] = edge_ends[k];
        edges[k] = {u, v == kNoIndex ? sparse::kBoundary : v, 0, 0, 0};
    }
    auto graph = sparse::ReweightedGraph::create(n_detectors, edges);
    if (!graph) return graph.error();
    SparseEdgeMatcher m;
    m.built_ = std::move(graph).value();
    if (auto status = m.built_.set_weights(weights); !status) return status.error();
    m.serial_ = next_serial.fetch_add(1);
    return m;
}

Status SparseEdgeMatcher::match(std::span<const uint8_t> syndrome, std::span<const double> weights,
                                std::span<uint8_t> edge_flips) const {
    const sparse::MatchingGraph& layout = built_.graph();
    if (syndrome.size() != layout.n_nodes || edge_flips.size() != built_.n_edges()) {
        return value_error("syndrome and edge flips have " + std::to_string(syndrome.size()) + " and " +
                           std::to_string(edge_flips.size()) + " bytes, expected " + std::to_string(layout.n_nodes) +
                           " and " + std::to_string(built_.n_edges()));
    }
    ScratchLease<SparseMatcherScratch> lease;
    SparseMatcherScratch& s = lease.get();
    if (s.graph_serial != serial_) {
        s.graph = built_;
        s.graph_serial = serial_;
        s.holds_build_weights = true;
    }
    if (!weights.empty()) {
        if (auto status = s.graph.set_weights(weights); !status) return status;
        s.holds_build_weights = false;
    } else if (!s.holds_build_weights) {
        s.graph.copy_weights_from(built_);
        s.holds_build_weights = true;
    }
    return sparse::correct_along_paths(s.graph.graph(), syndrome, edge_flips, s);
}

}  // namespace vornex
