// How the kernel's per-shot scratch is laid out on the device, shared by the
// host code that sizes and launches it and by the tests that check it.
#pragma once

#include <algorithm>
#include <cstdint>

namespace vornex {

// Threads of a warp; scratch is interleaved across them.
inline constexpr uint64_t kWarpLanes = 32;

// Per-thread scratch strides of the kernel: S32 = 6N + 1 + 4E index
// elements, S8 = 5N + E bytes. Inputs are at most 2^32 - 1, so neither
// overflows.
inline uint64_t scratch_words_per_shot(uint64_t n_nodes, uint64_t n_edges) { return 6 * n_nodes + 1 + 4 * n_edges; }
inline uint64_t scratch_bytes_per_shot(uint64_t n_nodes, uint64_t n_edges) { return 5 * n_nodes + n_edges; }

// Bytes of one index element: 2 when every value the scratch holds (nodes,
// qubits, adjacency offsets up to 2E) and the all-ones root mark fit in 16
// bits, else 4.
inline uint32_t index_bytes(uint64_t n_nodes, uint64_t n_edges, uint64_t n_qubits) {
    const uint64_t largest = std::max({n_nodes, 2 * n_edges + 1, n_qubits});
    return largest < 0xFFFF ? 2 : 4;
}

// Shots the interleaved scratch is allocated for: whole warps.
inline uint64_t warp_padded(uint64_t batch) { return (batch + kWarpLanes - 1) / kWarpLanes * kWarpLanes; }

// Entry point of the interleaved kernel for an index width.
inline const char* lanes_entry_point(uint32_t index_bytes) {
    return index_bytes == 2 ? "uf_decode_batch_lanes_u16" : "uf_decode_batch_lanes_u32";
}

// Where element k of thread t's scratch sits in an area of per-thread
// stride S, counted in elements: lanes of a warp side by side.
inline uint64_t lane_element(uint64_t t, uint64_t k, uint64_t stride) {
    return (t / kWarpLanes) * stride * kWarpLanes + k * kWarpLanes + t % kWarpLanes;
}

}  // namespace vornex
