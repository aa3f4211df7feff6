#include "uf/batch.h"

#include <algorithm>

#include "base/worker_pool.h"
#include "uf/decoder.h"
#include "uf/uf_core.h"

namespace vornex {

std::vector<uint8_t> BatchDecoder::parallel_batch_decode(std::span<const uint8_t> syndromes,
                                                         size_t n_shots) const {
    const size_t n_checks = graph_.n_checks;
    const size_t n_qubits = graph_.n_qubits;
    std::vector<uint8_t> out(batch_bytes(n_shots, n_qubits));
    // Each shot owns its slot, so the collected order is the index order
    // whatever the split.
    std::vector<std::vector<uint8_t>> rows(n_shots);
    parallel_for(n_shots, [&](size_t i) { rows[i] = decode(graph_, syndromes.subspan(i * n_checks, n_checks)); });
    // Concatenating and releasing the rows on the pool as well keeps the
    // calling thread from becoming the bottleneck on small codes.
    parallel_for(n_shots, [&](size_t i) {
        std::copy(rows[i].begin(), rows[i].end(), out.begin() + static_cast<std::ptrdiff_t>(i * n_qubits));
        std::vector<uint8_t>().swap(rows[i]);
    });
    return out;
}

}  // namespace vornex
