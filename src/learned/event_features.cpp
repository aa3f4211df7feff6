#include "learned/event_features.h"

#include <algorithm>

namespace vornex {
namespace {

// Prior weights and partner counts enter divided by these, so they sit on
// the scale of the counting columns.
constexpr double kPriorScale = 10.0;
constexpr double kPartnerScale = 10.0;

}  // namespace

EventFeatures::EventFeatures(const DemGraph& graph, const MechanismEdges& mechanisms) : graph_(&graph) {
    const size_t nd = graph.num_detectors;
    node_edge_begin_.assign(nd + 1, 0);
    for (const DemEdge& e : graph.edges) {
        ++node_edge_begin_[e.u + 1];
        if (e.v != kDemBoundary) ++node_edge_begin_[e.v + 1];
    }
    for (size_t d = 0; d < nd; ++d) node_edge_begin_[d + 1] += node_edge_begin_[d];
    node_edge_list_.resize(node_edge_begin_[nd]);
    std::vector<uint32_t> cursor(node_edge_begin_.begin(), node_edge_begin_.end() - 1);
    for (uint32_t k = 0; k < graph.edges.size(); ++k) {
        node_edge_list_[cursor[graph.edges[k].u]++] = k;
        if (graph.edges[k].v != kDemBoundary) node_edge_list_[cursor[graph.edges[k].v]++] = k;
    }
    mechanisms.partners(graph.edges.size(), partner_begin_, partner_list_);
    for (size_t k = 0; k < graph.edges.size(); ++k) {
        prior_input_.push_back(graph.edges[k].weight / kPriorScale);
        partner_input_.push_back(static_cast<double>(partners(k).size()) / kPartnerScale);
    }
}

EventFeatures::Workspace EventFeatures::make_workspace() const {
    Workspace ws;
    ws.fired.assign(graph_->num_detectors, 0);
    ws.fired_nearby.assign(graph_->num_detectors, 0);
    ws.visited.assign(graph_->edges.size(), 0);
    ws.explained.assign(graph_->edges.size(), 0);
    ws.clean.assign(graph_->edges.size(), 0);
    return ws;
}

void EventFeatures::visit(uint32_t edge, Workspace& ws) const {
    if (ws.visited[edge]) return;
    ws.visited[edge] = 1;
    ws.explained[edge] = 0;
    ws.clean[edge] = 0;
    ws.edges.push_back(edge);
}

bool EventFeatures::is_explained(uint32_t edge, const Workspace& ws) const {
    const DemEdge& e = graph_->edges[edge];
    return ws.fired[e.u] && (e.v == kDemBoundary || ws.fired[e.v]);
}

// An explained edge whose fired ends see no fired detector but each other.
bool EventFeatures::is_clean(uint32_t edge, const Workspace& ws) const {
    const DemEdge& e = graph_->edges[edge];
    if (e.v == kDemBoundary) return ws.fired_nearby[e.u] == 0;
    return ws.fired_nearby[e.u] == 1 && ws.fired_nearby[e.v] == 1;
}

void EventFeatures::gather(std::span<const uint32_t> events, Workspace& ws) const {
    // Clear what the previous shot left.
    for (uint32_t d : ws.events) ws.fired[d] = 0;
    for (uint32_t e : ws.edges) ws.visited[e] = 0;
    ws.events.assign(events.begin(), events.end());
    ws.edges.clear();
    for (uint32_t d : events) ws.fired[d] = 1;
    for (uint32_t d : events) {
        uint32_t nearby = 0;
        for (uint32_t e : edges_at(d)) {
            const DemEdge& edge = graph_->edges[e];
            if (edge.v != kDemBoundary) nearby += ws.fired[edge.u == d ? edge.v : edge.u];
        }
        ws.fired_nearby[d] = nearby;
    }
    // Every explained edge has its smaller end u fired: met once, from u.
    for (uint32_t d : events)
        for (uint32_t e : edges_at(d)) {
            if (graph_->edges[e].u != d || !is_explained(e, ws)) continue;
            const bool clean = is_clean(e, ws);
            for (uint32_t partner : partners(e)) {
                visit(partner, ws);
                ++ws.explained[partner];
                ws.clean[partner] += clean;
            }
        }
}

void EventFeatures::write_rows(Workspace& ws) const {
    ws.inputs.resize(ws.edges.size() * kEdgeInputCount);
    for (size_t i = 0; i < ws.edges.size(); ++i) {
        const uint32_t k = ws.edges[i];
        write_row(k, ws.explained[k], ws.clean[k],
                  std::span(ws.inputs).subspan(i * kEdgeInputCount, kEdgeInputCount));
    }
}

void EventFeatures::write_row(size_t edge, uint32_t explained, uint32_t clean, std::span<double> row) const {
    row[kExplainedPartners] = explained;
    row[kCleanPartners] = clean;
    row[kPriorWeight] = prior_input_[edge];
    row[kBoundaryEdge] = graph_->edges[edge].v == kDemBoundary;
    row[kPartnerCount] = partner_input_[edge];
}

}  // namespace vornex
