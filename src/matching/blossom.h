// Weighted minimum-weight-matching decoder.
//
// The code becomes a weighted check graph with one boundary node. Per
// syndrome every defect looks for its nearest other defects by a truncated
// shortest-path search (breadth-first when all weights are equal, Dijkstra
// otherwise); the resulting small defect graph, with distances scaled to
// integers, goes to the blossom engine, and matched pairs become qubit flips
// along their search paths: a search keeps only distances, and a matched
// pair's path is walked again from the trees or found again by its search.
// A correction that does not reproduce its syndrome is replaced by the
// Union-Find result, then by an exact GF(2) solve.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "dem/dem_model.h"
#include "dem/model_prediction.h"
#include "matching/parity_check.h"

namespace vornex {

// One entry of a node's adjacency run: the qubit joining it to `node`.
struct BlossomArc {
    uint32_t node;
    uint32_t qubit;
    double weight;
};

// Shortest-path trees from every check, computed once for small graphs so
// that decodes read neighbours instead of searching. A tree records exactly
// what a full search from that check would: the order in which it reaches
// each node, the distance and the parent link.
struct SourceTrees {
    size_t n_nodes = 0;
    std::vector<uint32_t> rank;  // [source * n_nodes + node], kNoIndex if unreached
    std::vector<double> dist;
    std::vector<uint32_t> parent;
    std::vector<uint32_t> parent_qubit;
};

// The decoder's state, immutable after construction.
struct BlossomGraph {
    std::vector<double> weights;                       // one per qubit
    std::vector<std::pair<uint32_t, uint32_t>> edges;  // check pairs joined by a qubit
    std::vector<uint32_t> arc_begin;                   // n_checks + 2 offsets into arcs
    std::vector<BlossomArc> arcs;                      // check adjacency, boundary node last
    CheckList check_to_qubits;
    std::optional<CheckGraph> uf_fallback;  // absent when the Union-Find build rejects the code
    size_t n_qubits = 0;
    size_t n_checks = 0;
    size_t k_base = 12;
    double k_mult = 2.0;
    bool uniform_weights = true;
    bool has_boundary = false;

    // Shortest paths from the boundary node, the same for every syndrome.
    std::vector<double> boundary_dist;
    std::vector<uint32_t> boundary_parent;
    std::vector<uint32_t> boundary_parent_qubit;

    std::optional<SourceTrees> trees;

    uint32_t boundary_node() const { return static_cast<uint32_t>(n_checks); }
    std::span<const BlossomArc> arcs_of(uint32_t node) const {
        return {arcs.data() + arc_begin[node], arcs.data() + arc_begin[node + 1]};
    }
};

// Graphs with at most this many (check, node) pairs keep SourceTrees.
inline constexpr size_t kBlossomTreeLimit = size_t{1} << 19;

// Builds the weighted check graph. edge_weights shorter than n_qubits are
// padded with 1.0. k_mult comes from VORNEX_BLOSSOM_K_MULT. tree_limit
// bounds the precomputed trees (0 turns them off; decodes are identical).
BlossomGraph build_blossom_graph(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                 std::optional<std::vector<double>> edge_weights,
                                 size_t tree_limit = kBlossomTreeLimit);

// VORNEX_BLOSSOM_K_MULT when it parses as a number > 0, else 2.0.
double blossom_k_mult_from_env();

// Number of neighbours each of `n_defects` defects searches for.
size_t blossom_neighbour_count(const BlossomGraph& graph, size_t n_defects);

// Decodes one syndrome (byte 1 = defect) into a correction of n_qubits bytes.
// Fails (as a panic) only when the lengths do not fit the graph.
Status blossom_decode_into(const BlossomGraph& graph, std::span<const uint8_t> syndrome,
                           std::span<uint8_t> correction);
Result<std::vector<uint8_t>> blossom_decode(const BlossomGraph& graph, std::span<const uint8_t> syndrome);

// Decodes `n_shots` rows of n_checks bytes into rows of n_qubits bytes, rows
// in parallel on the worker pool.
void blossom_decode_batch(const BlossomGraph& graph, const uint8_t* syndromes, size_t n_shots, uint8_t* corrections);

// The weighted matching decoder object: a built graph and the checks its
// callers' inputs must pass, with the class's own (French) error texts.
class BlossomDecoder {
public:
    explicit BlossomDecoder(BlossomGraph graph) : graph_(std::move(graph)) {}

    size_t n_qubits() const { return graph_.n_qubits; }
    size_t n_checks() const { return graph_.n_checks; }
    const std::vector<std::pair<uint32_t, uint32_t>>& edges() const { return graph_.edges; }
    const BlossomGraph& graph() const { return graph_; }

    Status check_syndrome_length(size_t length) const;
    Status check_batch_shape(std::span<const size_t> shape) const;

    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome) const {
        return blossom_decode(graph_, syndrome);
    }
    // Rows of n_checks bytes in, (n_shots, n_qubits) bytes out.
    std::vector<uint8_t> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

    // A decoder on the graph view of a model, weighted ln((1 - p) / p), that
    // predicts the model's observables. Fails on hyperedges and on edges of
    // probability above 0.5 (negative weights break its shortest paths).
    static Result<BlossomDecoder> from_model(const DetectorErrorModel& model);

    // Observable prediction (dem/model_prediction.h); model() is nullptr
    // for a decoder built from check lists.
    const ModelObservables* model() const { return model_.get(); }
    auto make_predictor() const {
        return correction_predictor(*model_, graph_.n_qubits,
                                    [this](std::span<const uint8_t> events, std::span<uint8_t> correction) {
                                        // Lengths fit by construction, so the decode cannot fail.
                                        (void)blossom_decode_into(graph_, events, correction);
                                    });
    }

private:
    BlossomGraph graph_;
    std::shared_ptr<const ModelObservables> model_;
};

}  // namespace vornex
