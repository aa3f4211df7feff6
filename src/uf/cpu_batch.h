// CPU batch decoder with three ways of spending memory and threads:
// a sequential 64-lane blocked decode that reuses 64 workspaces, a
// sequential decode with one workspace per shot, and the parallel
// workspace-per-shot routine. All return the bytes of the single decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "uf/on_check_graph.h"

namespace vornex {

inline constexpr size_t kLanes = 64;
// Slack after a lane block: the vector gather reads a few bytes past the
// last lane of the last check.
inline constexpr size_t kLaneBlockSlack = 64;

// 64 syndrome rows (n_checks bytes each, consecutive) into the check-major
// lane block: byte k*64 + j = row j, byte k.
void transpose_to_lanes_plain(const uint8_t* rows, size_t n_checks, uint8_t* block);
// One lane back out of the block: out[k] = block[k*64 + lane].
void gather_lane_plain(const uint8_t* block, size_t n_checks, size_t lane, uint8_t* out);

// Vectorised forms of the two copies; callable only when cpu_has_avx2().
void transpose_to_lanes_avx2(const uint8_t* rows, size_t n_checks, uint8_t* block);
void gather_lane_avx2(const uint8_t* block, size_t n_checks, size_t lane, uint8_t* out);

// Asked of the processor once, at first use.
bool cpu_has_avx2();

// The pair of copies a blocked decode uses.
struct LaneCopies {
    void (*transpose)(const uint8_t*, size_t, uint8_t*);
    void (*gather)(const uint8_t*, size_t, size_t, uint8_t*);
};
// The vectorised pair when the processor has AVX2, the plain pair otherwise.
LaneCopies lane_copies();

class CPUBatchDecoder : public OnCheckGraph<CPUBatchDecoder> {
public:
    using OnCheckGraph::OnCheckGraph;

    // "Syndrome length {} != n_checks {}" unless length == n_checks.
    Status check_syndrome_length(size_t length) const;
    // Length already checked.
    std::vector<uint8_t> decode(std::span<const uint8_t> syndrome) const;

    // Batch methods: shape already checked, syndromes holds n_shots * n_checks
    // bytes; each returns n_shots * n_qubits bytes.

    // Sequential; lane j of every block reuses workspace j.
    std::vector<uint8_t> batch_decode_simd(std::span<const uint8_t> syndromes, size_t n_shots,
                                           LaneCopies copies = lane_copies()) const;
    // Sequential; every shot uses a fresh workspace, released after its row.
    std::vector<uint8_t> batch_decode_pooled(std::span<const uint8_t> syndromes, size_t n_shots,
                                             LaneCopies copies = lane_copies()) const;
    // Parallel on the worker pool; one workspace per shot.
    std::vector<uint8_t> batch_decode_par(std::span<const uint8_t> syndromes, size_t n_shots) const;
};

}  // namespace vornex
