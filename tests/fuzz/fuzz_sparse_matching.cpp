// Random small graphs (parallel edges, self-loops, boundary edges, isolated
// nodes, out-of-range ends) and event lists (repeats and out-of-range ids
// included) for the sparse matching engine. Whatever the input, the engine
// either refuses it with a text or returns a perfect pairing of the events
// whose weight equals the exact subset reference, and a reused engine
// answers the next shot as a fresh one does.
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "matching/sparse/sparse_engine.h"
#include "matching/sparse/sparse_reference.h"

namespace {

using namespace vornex::sparse;

void require(bool condition) {
    if (!condition) std::abort();
}

std::optional<int64_t> best_by_subsets(uint32_t n, const std::vector<GraphEdge>& edges, const std::vector<NodeId>& ev) {
    vornex::testing::RandomGraph g;
    g.n = n;
    g.edges = edges;
    return vornex::testing::best_matching_by_subsets(vornex::testing::all_pairs(g), n, ev);
}

SparseEngine& shared_engine() {
    static SparseEngine engine;
    return engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vornex::fuzz::Input in(data, size);
    const uint32_t n = 1 + in.below(12);
    std::vector<GraphEdge> edges;
    const uint32_t n_edges = in.below(30);
    for (uint32_t k = 0; k < n_edges; ++k) {
        const uint32_t u = in.below(n + 1);  // n itself is out of range
        const uint32_t pick = in.below(n + 2);
        const NodeId v = pick == n + 1 ? kBoundary : pick;
        const int64_t w = static_cast<int64_t>(in.below(8)) - (in.below(50) == 0 ? 9 : 0);
        edges.push_back({u, v, w, in.byte(), k});
    }
    std::vector<NodeId> events;
    const uint32_t n_events = in.below(n + 2);
    for (uint32_t k = 0; k < n_events; ++k) events.push_back(in.below(n + 1));

    auto graph = build_matching_graph(n, edges);
    if (!graph) return 0;
    SparseMatching got, fresh_got;
    const vornex::Status status = shared_engine().match(graph.value(), events, got);
    SparseEngine fresh;
    require(fresh.match(graph.value(), events, fresh_got).ok() == status.ok());
    if (!status.ok()) {
        const std::string& text = status.error().message;
        if (text.rfind("no perfect matching", 0) == 0) require(!best_by_subsets(n, edges, events).has_value());
        require(!text.empty());
        return 0;
    }
    require(got.weight == fresh_got.weight && got.observables == fresh_got.observables);
    std::vector<int> used(n, 0);
    for (const MatchedPair& p : got.pairs) {
        require(p.from < n && (p.to == kBoundary || p.to < n));
        used[p.from] += 1;
        if (p.to != kBoundary) used[p.to] += 1;
    }
    for (const NodeId e : events) require(used[e] == 1);
    const auto reference = best_by_subsets(n, edges, events);
    require(reference.has_value() && *reference == got.weight);
    return 0;
}
