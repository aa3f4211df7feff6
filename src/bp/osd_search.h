// Ordered-statistics decoding of order w on a TannerGraph (OSD-0, OSD-E,
// OSD-CS; Fossorier-Lin, and the combination sweep of Roffe et al. 2020).
//
// Columns are taken likeliest flip first (order_by_flip_likelihood). An
// incremental Gauss-Jordan keeps the row operations so far as a bit-packed
// n_checks x n_checks matrix T (column-major): a new column h is reduced by
// XOR-ing the columns of T at h's checks, so each column costs its degree,
// not the width of the code, and elimination stops as soon as the pivots
// reach the rank of the matrix. The pivot columns S are the first
// independent columns in that order; every other column is free.
//
// OSD-0 sets e_S = T s and e_free = 0. Higher orders try free patterns f and
// e_S = T (s + H f), keeping the candidate of least weight, where the weight
// is the sum over flipped qubits of their prior ln((1-p)/p) (the most likely
// error under the channel). Candidates, in the order tried:
//   OSD-0; then
//   OSD-E:  every nonzero pattern over the first min(w, #free) free columns,
//           bit i of the pattern integer = i-th free column, integers ascending;
//   OSD-CS: each single free column in order, then the pairs (i, j), i < j,
//           of the first min(w, #free) free columns, lexicographically.
// A candidate replaces the best only when lighter by more than 1e-9 of the
// larger magnitude, so equal weights keep the earliest candidate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "bp/bp_settings.h"
#include "bp/tanner_graph.h"

namespace vornex {

// Bit-packed elimination state; grows only.
struct OsdScratch {
    std::vector<uint32_t> order;        // qubits, likeliest flip first
    std::vector<uint64_t> transform;    // n_checks columns of `words` words: the row operations so far
    std::vector<uint64_t> pivoted;      // rows that hold a pivot
    std::vector<uint32_t> row_pivot;    // per row: the qubit pivoting it (valid where pivoted)
    std::vector<uint32_t> free_columns; // non-pivot qubits, in order
    std::vector<uint64_t> image;        // T times the column being reduced
    std::vector<uint64_t> reduced;      // T times the syndrome
    std::vector<uint64_t> candidate;    // pivot-row bits of the candidate being weighed
    std::vector<uint64_t> head_images;  // T times each of the first w free columns
};

// Rank over GF(2) of the graph's parity matrix.
size_t gf2_rank(const TannerGraph& graph, OsdScratch& scratch);

// Fills `correction` (n_qubits bytes) with the lightest candidate of the
// configured search and returns true, or, when the syndrome (bit 0 of each
// byte) is outside the column space, the hard decision posterior < 0 and
// returns false. `rank` must be gf2_rank(graph); `weights` holds each
// qubit's prior LLR.
bool osd_search(const TannerGraph& graph, size_t rank, std::span<const double> posterior,
                std::span<const double> weights, std::span<const uint8_t> syndrome, const OsdSettings& settings,
                OsdScratch& scratch, std::span<uint8_t> correction);

}  // namespace vornex
