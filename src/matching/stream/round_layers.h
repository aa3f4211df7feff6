// A detector error model cut into rounds: its detectors grouped by time, its
// graph edges filed under the earlier round they touch. Every window of a
// stream is cut from this, and a stream longer than the model repeats the
// model's middle rounds.
//
// Rounds come from the detectors' last coordinate (their time), or from a
// stated number of detectors per round (consecutive ids). Within a round,
// detectors keep ascending id order; a round's detection events are given in
// that order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "dem/dem_graph.h"
#include "dem/dem_model.h"
#include "matching/edge_correlations.h"
#include "matching/sparse/sparse_types.h"

namespace vornex::stream {

using sparse::ObsMask;

// An edge of the model's graph view, filed under its earlier round.
struct RoundEdge {
    uint32_t u = 0;           // earlier end, as an index within its round
    uint32_t v = 0;           // later end, as an index within round + span; sparse::kBoundary for the boundary
    uint32_t span = 0;        // rounds between the ends (0 within a round and for the boundary)
    uint32_t model_edge = 0;  // index in the model's graph view
    int64_t weight = 0;       // engine weight, discretised over the whole model as the global decoder does
    ObsMask observables = 0;

    // Same place, weight and flips (the model edge it came from may differ).
    bool same_shape(const RoundEdge& o) const {
        return u == o.u && v == o.v && span == o.span && weight == o.weight && observables == o.observables;
    }
};

struct RoundLayers {
    uint32_t num_detectors = 0;
    uint32_t num_observables = 0;
    std::vector<uint32_t> round_begin;  // rounds + 1 offsets into `detectors`
    std::vector<uint32_t> detectors;    // model detector ids, round by round, ascending within a round
    std::vector<uint32_t> position;     // per model detector: its index in `detectors`
    std::vector<uint32_t> edge_begin;   // rounds + 1 offsets into `edges`
    std::vector<RoundEdge> edges;       // by earlier round, then (u, span, v)
    uint32_t max_span = 0;              // largest number of rounds an edge crosses
    uint32_t max_round_size = 0;
    // Rounds [bulk_begin, bulk_end) have the same size and edges, and the
    // round after them has their size: a longer stream repeats `bulk` there.
    // bulk_begin == bulk_end when the model has no such rounds (or an edge
    // crosses more than one round), and then streams keep the model's length.
    uint32_t bulk_begin = 0;
    uint32_t bulk_end = 0;
    uint32_t bulk = 0;
    // Fewest edges of a path from the boundary to the boundary that flips an
    // observable: the code distance as the graph sees it (0 when no such path).
    uint32_t distance = 0;
    // Real weight w of the model becomes the engine's llround(w * weight_scale).
    double weight_scale = 1.0;
    // Per model edge: its index in `edges` and the round it is filed under.
    std::vector<uint32_t> slot_of_edge;
    std::vector<uint32_t> round_of_edge;
    // Which edges decomposed errors flip together; set when built for
    // correlated matching.
    std::shared_ptr<const EdgeCorrelations> correlations;

    uint32_t n_rounds() const { return static_cast<uint32_t>(round_begin.size() - 1); }
    uint32_t size(uint32_t round) const { return round_begin[round + 1] - round_begin[round]; }
    std::span<const RoundEdge> edges_of(uint32_t round) const {
        return {edges.data() + edge_begin[round], edges.data() + edge_begin[round + 1]};
    }
    bool repeats() const { return bulk_end > bulk_begin; }
    // Rounds before and after the repeated ones.
    uint32_t head() const { return bulk_begin; }
    uint32_t tail() const { return n_rounds() - bulk_end; }
};

// Groups the model's detectors into rounds and files its graph edges. Fails
// for a detector without coordinates when no detectors_per_round is given,
// for detectors_per_round 0, and for graphs the exact engine cannot take
// (components on three or more detectors, probabilities above 0.5, more
// than 64 observables). With `correlations` the weights are resolved as
// finely as the correlated global decoder resolves them, and the pairs of
// edges flipped together are kept.
Result<RoundLayers> build_round_layers(const DetectorErrorModel& model, std::optional<uint32_t> detectors_per_round,
                                       bool correlations = false);

// Which model round each round of a stream of `n_rounds` rounds is cut from:
// the model's own rounds when the lengths agree, otherwise its head, the
// repeated round as often as needed, and its tail. n_rounds == 0 is a stream
// with no end fixed in advance (its tail is placed when it ends).
class StreamMap {
public:
    StreamMap() = default;
    StreamMap(const RoundLayers& layers, uint64_t n_rounds);

    // Fails, naming the shortest length, when the model cannot make a
    // stream of n_rounds rounds.
    static Status check(const RoundLayers& layers, uint64_t n_rounds);

    uint64_t n_rounds() const { return n_rounds_; }
    // The stream is the model's own rounds.
    bool identity() const { return identity_; }
    uint32_t layer(uint64_t round) const {
        if (identity_ || round < head_) return static_cast<uint32_t>(round);
        if (n_rounds_ != 0 && round >= n_rounds_ - tail_) return static_cast<uint32_t>(round - (n_rounds_ - model_rounds_));
        return bulk_;
    }
    // Detection events before `round` (its first event's index in a stream row).
    uint64_t offset(uint64_t round) const;
    // Detection events of the whole stream (n_rounds != 0).
    uint64_t total() const { return offset(n_rounds_); }

private:
    const RoundLayers* layers_ = nullptr;
    uint64_t n_rounds_ = 0;
    bool identity_ = true;
    uint32_t model_rounds_ = 0;
    uint32_t head_ = 0;
    uint32_t tail_ = 0;
    uint32_t bulk_ = 0;
};

}  // namespace vornex::stream
