// One window of a stream matched and committed, as in sliding-window and
// parallel-window decoding (Dennis et al. 2002; Skoric et al. 2023, "Parallel
// window decoding enables scalable fault tolerant quantum computation"; Tan
// et al. 2023).
//
// The window is matched exactly. Its rounds are split into a commit region
// and buffers, and the correction is kept only where it settles the region:
// - a pair with both ends in the region is committed whole;
// - a pair with one end there is committed from that end along a shortest
//   path up to the first node outside the region, whose detection event is
//   flipped: the residual defect carried into the window that decodes those
//   rounds next, with the rounds beyond them in view;
// - a pair with no end in the region is left to a later window.
// Every event of the region is thereby cancelled, and what is left outside
// it is again a valid syndrome for the rest of the stream. Only the pairs
// that cross the region's edge need a path.
//
// A window whose graph keeps the model's pairs of correlated edges is
// matched twice: the first matching's edges lower the weights of the edges
// they imply, and the second matching, on those weights, is committed by
// the rule above (its crossing pairs traced on the same weights).
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "dem/event_list_rows.h"
#include "matching/stream/window_graph.h"

namespace vornex::stream {

// What a window commits. Rounds are relative to the window's first round.
struct WindowCommit {
    ObsMask observables = 0;
    std::vector<std::pair<int32_t, uint32_t>> flips;  // (round, index in round) of events to flip
    std::vector<std::pair<int32_t, uint32_t>> edges;  // (round of the earlier end, model edge), when asked
};

// Reusable per-thread state for decoding windows.
class WindowDecoder {
public:
    // Matches window `w`, whose round i holds the 0/1 bytes round_bytes(i),
    // and commits its rounds [commit_begin, commit_end) into `out`. Fails as
    // the matcher does (no perfect matching), leaving `out` cleared. With
    // `Padded` each round's bytes run on as zeros to a whole number of
    // words, which are read whole.
    template <bool Padded = false, class RoundBytes>
    Status decode(const WindowGraph& w, RoundBytes&& round_bytes, uint32_t commit_begin, uint32_t commit_end,
                  bool want_edges, WindowCommit& out) {
        events_.resize(w.matcher->n_nodes() + 8);
        size_t count = 0;
        const uint32_t length = static_cast<uint32_t>(w.round_offset.size() - 1);
        for (uint32_t i = 0; i < length; ++i) {
            const uint32_t base = w.round_offset[i];
            uint32_t size = w.round_offset[i + 1] - base;
            if constexpr (Padded) size = (size + 7) / 8 * 8;
            const size_t found = fired_of_byte_row(round_bytes(i), size, events_.data() + count);
            for (size_t k = count; k < count + found; ++k) events_[k] += base;
            count += found;
        }
        return commit(w, std::span<const sparse::NodeId>(events_.data(), count), commit_begin, commit_end, want_edges,
                      out);
    }

private:
    Status commit(const WindowGraph& w, std::span<const sparse::NodeId> events, uint32_t commit_begin,
                  uint32_t commit_end, bool want_edges, WindowCommit& out);
    // Commits the path of a pair from `from` (in the commit region, lo..hi
    // as node ids) towards `to`, up to the region's edge.
    void walk(const WindowGraph& w, sparse::NodeId from, sparse::NodeId to, uint32_t lo, uint32_t hi, bool want_edges,
              WindowCommit& out);

    // The second pass's weights from the first pass's edges, into second_.
    void reweight(const WindowGraph& w);

    std::vector<sparse::NodeId> events_;  // the window's fired nodes
    std::vector<uint32_t> first_;         // edges of the first pass
    std::vector<EdgeWeight> second_;      // lowered weights for the second pass, each lower than the last of its edge
    std::vector<uint32_t> stamp_;         // per window edge: the window that last lowered it
    std::vector<double> lowered_;         // per window edge: its weight as lowered so far
    uint32_t clock_ = 0;
    std::vector<MatchedEnds> pairs_;      // the window's matching
    std::vector<uint32_t> path_;          // edges of the pair being committed
};

}  // namespace vornex::stream
