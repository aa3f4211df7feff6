#include "learned/mechanism_edges.h"

#include <algorithm>

namespace vornex {

MechanismEdges MechanismEdges::create(const DetectorErrorModel& model, const DemGraph& graph) {
    MechanismEdges m;
    m.edge_begin_.push_back(0);
    std::vector<uint32_t> detectors, edges;
    std::vector<uint32_t> observables;
    for (size_t column = 0; column < model.num_errors(); ++column) {
        if (!(model.probability[column] > 0)) continue;
        decomposed_edges(graph, model, column, detectors, edges);
        m.edges_.insert(m.edges_.end(), edges.begin(), edges.end());
        column_observables(model, column, observables);
        sparse::ObsMask mask = 0;
        for (uint32_t o : observables)
            if (o < 64) mask |= sparse::ObsMask{1} << o;
        m.probability_.push_back(model.probability[column]);
        m.observables_.push_back(mask);
        m.edge_begin_.push_back(static_cast<uint32_t>(m.edges_.size()));
    }
    return m;
}

void MechanismEdges::partners(size_t n_edges, std::vector<uint32_t>& begin, std::vector<uint32_t>& list) const {
    std::vector<std::vector<uint32_t>> of(n_edges);
    for (size_t m = 0; m < n_mechanisms(); ++m) {
        const auto edges = edges_of(m);
        for (uint32_t a : edges)
            for (uint32_t b : edges)
                if (a != b) of[a].push_back(b);
    }
    begin.assign(1, 0);
    list.clear();
    for (auto& partners : of) {
        std::sort(partners.begin(), partners.end());
        partners.erase(std::unique(partners.begin(), partners.end()), partners.end());
        list.insert(list.end(), partners.begin(), partners.end());
        begin.push_back(static_cast<uint32_t>(list.size()));
    }
}

sparse::ObsMask MechanismEdges::draw(Wyrand& rng, const DemGraph& graph, std::span<uint8_t> events,
                                     std::span<uint8_t> edge_flips, std::vector<uint32_t>& touched) const {
    std::fill(events.begin(), events.end(), uint8_t{0});
    sparse::ObsMask flipped = 0;
    for (size_t m = 0; m < probability_.size(); ++m) {
        if (rng.next_unit() >= probability_[m]) continue;
        flipped ^= observables_[m];
        for (uint32_t e : edges_of(m)) {
            const DemEdge& edge = graph.edges[e];
            events[edge.u] ^= 1;
            if (edge.v != kDemBoundary) events[edge.v] ^= 1;
            edge_flips[e] ^= 1;
            touched.push_back(e);
        }
    }
    return flipped;
}

}  // namespace vornex
