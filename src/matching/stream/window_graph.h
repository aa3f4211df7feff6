// The matching graph of a window: a run of consecutive stream rounds cut
// out of the model's round layers.
//
// An edge with both ends in the window is kept. An edge from a round of the
// window to a round outside it is kept, when that side of the window is
// open, as an edge to the boundary (a defect near the cut may be matched
// with something on the other side, which the window cannot see), and is
// dropped when that side is already committed. Cut edges are listed after
// the model's own edges, so a real boundary edge of equal weight wins the
// merge of parallel edges and keeps its observables.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "matching/exact_matcher.h"
#include "matching/stream/round_layers.h"

namespace vornex::stream {

enum class EdgeKind : uint8_t {
    Inner,     // both ends in the window
    Boundary,  // the model's boundary
    Cut,       // the far end is in a round outside the window
};

// An edge of a window graph; the matcher reports edges by index in this table.
struct WindowEdge {
    uint32_t a = 0;            // a window node
    uint32_t b = 0;            // the other window node (Inner), else the far end's index within its round (Cut)
    int32_t b_round = 0;       // Cut: the far end's round, relative to the window's first (-1 below, >= length above)
    int32_t earlier_round = 0; // round of the edge's earlier end, relative to the window's first
    EdgeKind kind = EdgeKind::Inner;
    uint32_t model_edge = 0;
    int64_t weight = 0;        // the engine's weight
    ObsMask observables = 0;
};

// Which model rounds a window is cut from and which of its sides are open.
// Two windows with equal shapes have equal graphs.
struct WindowShape {
    uint32_t first = 0;           // model round of the window's first round
    uint32_t last = 0;            // model round of its last round
    uint32_t length = 0;          // rounds in the window
    uint32_t below = UINT32_MAX;  // model round below the window when that side is open
    bool open_above = false;
    bool repeated = false;        // cut from a stream that repeats the model's middle rounds

    auto operator<=>(const WindowShape&) const = default;
};

struct WindowGraph {
    WindowShape shape;
    std::optional<ExactMatcher> matcher;  // always set once built
    std::vector<uint32_t> round_offset;  // length + 1 offsets of each round's nodes
    std::vector<uint32_t> node_round;    // per node: its round within the window
    std::vector<WindowEdge> edges;
    // Correlated matching: per window edge a, the window edges b that an
    // error flips together with it and the engine weight of b once a is
    // known to have fired (a window's copy of the model's pairs, both ends
    // placed in its rounds; pairs reaching outside the window are left out).
    // Empty when the model's pairs were not kept.
    std::vector<uint32_t> implied_begin;
    std::vector<EdgeWeight> implied;

    bool correlated() const { return !implied_begin.empty(); }
    std::span<const EdgeWeight> implied_by(uint32_t edge) const {
        return std::span(implied).subspan(implied_begin[edge], implied_begin[edge + 1] - implied_begin[edge]);
    }
};

// Builds the graph of the window whose rounds are cut from model rounds
// `layers_of_rounds` (one per round of the window).
Result<WindowGraph> build_window_graph(const RoundLayers& layers, std::span<const uint32_t> layers_of_rounds,
                                       const WindowShape& shape);

// Window graphs built once and shared by every decode (and every thread).
// A stream of a repeating model needs a handful of shapes whatever its
// length; a stream of the model's own length needs one per window position.
class WindowGraphCache {
public:
    explicit WindowGraphCache(std::shared_ptr<const RoundLayers> layers) : layers_(std::move(layers)) {}

    // The graph of stream rounds [first, first + length) under `map`, with
    // the given open sides; built on first use. The pointer stays valid for
    // the life of the cache.
    Result<const WindowGraph*> get(const StreamMap& map, uint64_t first, uint32_t length, bool open_below,
                                   bool open_above);

    size_t size() const;

private:
    std::shared_ptr<const RoundLayers> layers_;
    mutable std::mutex lock_;
    std::map<WindowShape, std::unique_ptr<WindowGraph>> graphs_;
    std::vector<uint32_t> layer_scratch_;
};

}  // namespace vornex::stream
