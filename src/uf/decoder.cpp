#include "uf/decoder.h"

#include <new>

#include "base/worker_pool.h"
#include "dem/model_budget.h"
#include "uf/uf_core.h"

namespace vornex {

void decode_rows(const CheckGraph& graph, const uint8_t* syndromes, size_t n_shots, uint8_t* corrections) {
    const size_t n_checks = graph.n_checks;
    const size_t n_qubits = graph.n_qubits;
    parallel_for_ranges(n_shots, [&](size_t begin, size_t end) {
        UfWorkspace workspace;
        for (size_t i = begin; i < end; ++i) {
            decode_into(graph, {syndromes + i * n_checks, n_checks}, workspace,
                        {corrections + i * n_qubits, n_qubits});
        }
    });
}

Result<std::vector<uint8_t>> UnionFindDecoder::decode(std::span<const uint8_t> syndrome) const {
    if (syndrome.size() != graph_.n_checks) {
        return panic_error("assertion `left == right` failed: Syndrome length must match n_checks\n  left: " +
                           std::to_string(syndrome.size()) + "\n right: " + std::to_string(graph_.n_checks));
    }
    return vornex::decode(graph_, syndrome);
}

Status UnionFindDecoder::check_syndrome_length(size_t length) const {
    if (length == graph_.n_checks) return ok_status();
    return value_error("Syndrome length (" + std::to_string(length) + ") does not match n_checks (" +
                       std::to_string(graph_.n_checks) + ")");
}

Result<UnionFindDecoder> UnionFindDecoder::from_model(const DetectorErrorModel& model) {
    if (auto fits = check_model_footprint(model, {"a Union-Find decoder", 68}); !fits) return fits.error();
    return create_from_model<UnionFindDecoder>(model, [](UnionFindDecoder& decoder, auto observables) {
        decoder.model_ = std::move(observables);
    });
}

std::vector<uint8_t> UnionFindDecoder::batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, graph_.n_qubits), 0);
    decode_rows(graph_, syndromes.data(), n_shots, out.data());
    return out;
}

}  // namespace vornex
