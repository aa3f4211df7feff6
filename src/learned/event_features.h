// Event-local inputs of the learned edge weights.
//
// Matching already weighs the evidence of an edge's own detectors; what it
// cannot see is that one error mechanism often flips several edges at once
// (a decomposed error, "D1 D2 ^ D5 D6"), so that evidence for one part makes
// the others likelier. An edge's inputs therefore count the edges it fires
// together with (its partners) that the shot explains: both ends fired (or
// the one end of a boundary edge), and of those, the ones whose fired ends
// see no other fired detector. An edge with no explained partner has all
// event inputs zero and keeps its prior weight, so a shot only visits the
// partners of the explained edges at its fired detectors: its cost follows
// its events, not the size of the graph.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "dem/dem_graph.h"
#include "learned/mechanism_edges.h"

namespace vornex {

// Input columns of one edge.
enum EdgeInput : uint32_t {
    kExplainedPartners,  // partners whose every end fired
    kCleanPartners,      // of those, partners whose fired ends see no other fired detector
    kPriorWeight,        // the model's weight, scaled to order one
    kBoundaryEdge,       // 1 for an edge to the boundary
    kPartnerCount,       // partners of the edge, scaled
    kEdgeInputCount
};

class EventFeatures {
public:
    // Per-thread scratch of one shot; reset by the next gather.
    struct Workspace {
        std::vector<uint8_t> fired;          // per detector: fired in this shot
        std::vector<uint32_t> fired_nearby;  // per fired detector: its fired neighbours
        std::vector<uint8_t> visited;        // per edge: listed in `edges` this shot
        std::vector<uint32_t> explained;     // per visited edge: explained partners
        std::vector<uint32_t> clean;         // per visited edge: cleanly explained partners
        std::vector<uint32_t> events;        // this shot's fired detectors
        std::vector<uint32_t> edges;         // this shot's visited edges
        std::vector<double> inputs;          // edges.size() rows of kEdgeInputCount, by write_rows
    };

    EventFeatures(const DemGraph& graph, const MechanismEdges& mechanisms);

    Workspace make_workspace() const;

    // Lists the edges with an explained partner for the fired detectors
    // `events` (distinct, in range) and counts their partners.
    void gather(std::span<const uint32_t> events, Workspace& ws) const;
    // The input rows of the edges the last gather listed, into ws.inputs.
    void write_rows(Workspace& ws) const;

    // Writes an edge's input row for the given partner counts.
    void write_row(size_t edge, uint32_t explained, uint32_t clean, std::span<double> row) const;

    // The partners of an edge (edges some mechanism flips with it).
    std::span<const uint32_t> partners(size_t edge) const {
        return std::span(partner_list_).subspan(partner_begin_[edge], partner_begin_[edge + 1] - partner_begin_[edge]);
    }
    // Edges at a detector.
    std::span<const uint32_t> edges_at(size_t detector) const {
        return std::span(node_edge_list_).subspan(node_edge_begin_[detector],
                                                  node_edge_begin_[detector + 1] - node_edge_begin_[detector]);
    }

private:
    void visit(uint32_t edge, Workspace& ws) const;
    bool is_explained(uint32_t edge, const Workspace& ws) const;
    bool is_clean(uint32_t edge, const Workspace& ws) const;

    const DemGraph* graph_;
    std::vector<uint32_t> node_edge_begin_;  // n_detectors + 1 offsets into node_edge_list_
    std::vector<uint32_t> node_edge_list_;   // edges at each detector, ascending
    std::vector<uint32_t> partner_begin_;    // n_edges + 1 offsets into partner_list_
    std::vector<uint32_t> partner_list_;
    std::vector<double> prior_input_;        // per edge: kPriorWeight column
    std::vector<double> partner_input_;      // per edge: kPartnerCount column
};

}  // namespace vornex
