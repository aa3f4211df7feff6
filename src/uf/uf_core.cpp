#include "uf/uf_core.h"

#include "uf/cluster_decode.h"

#include <bit>
#include <cstring>

namespace vornex {

void list_defects(std::span<const uint8_t> syndrome, std::vector<uint32_t>& defects) {
    constexpr uint64_t kLowBits = 0x0101010101010101ull;
    const size_t n = syndrome.size();
    size_t c = 0;
    for (; c + 8 <= n; c += 8) {
        uint64_t word;
        std::memcpy(&word, syndrome.data() + c, 8);
        if constexpr (std::endian::native == std::endian::little) {
            // One set bit per fired byte, at bit 8 * its offset in the row.
            for (uint64_t fired = word & kLowBits; fired != 0; fired &= fired - 1)
                defects.push_back(static_cast<uint32_t>(c + (std::countr_zero(fired) >> 3)));
        } else {
            if ((word & kLowBits) == 0) continue;
            for (size_t k = c; k < c + 8; ++k)
                if (syndrome[k] & 1u) defects.push_back(static_cast<uint32_t>(k));
        }
    }
    for (; c < n; ++c)
        if (syndrome[c] & 1u) defects.push_back(static_cast<uint32_t>(c));
}

void decode_into(const CheckGraph& graph, std::span<const uint8_t> syndrome, UfWorkspace& workspace,
                 std::span<uint8_t> correction) {
    decode_clusters(graph, syndrome, workspace, correction, [&](ClusterSet& clusters, UfWorkspace& ws) {
        grow_clusters(graph, HalfStepWeights{}, clusters, ws.growth);
    });
}

namespace {

// Graphs up to this many nodes plus edges keep their scratch on the thread
// between decodes; a larger one takes a fresh workspace, so that one huge
// decode does not pin its memory to the thread for good.
constexpr size_t kKeptWorkspaceSize = size_t{1} << 16;

}  // namespace

void decode_with_scratch(const CheckGraph& graph, std::span<const uint8_t> syndrome, std::span<uint8_t> correction) {
    if (graph.n_nodes + graph.edges.size() <= kKeptWorkspaceSize) {
        thread_local UfWorkspace kept;
        decode_into(graph, syndrome, kept, correction);
    } else {
        UfWorkspace fresh;
        decode_into(graph, syndrome, fresh, correction);
    }
}

std::vector<uint8_t> decode(const CheckGraph& graph, std::span<const uint8_t> syndrome) {
    std::vector<uint8_t> correction(graph.n_qubits, 0);
    decode_with_scratch(graph, syndrome, correction);
    return correction;
}

}  // namespace vornex
