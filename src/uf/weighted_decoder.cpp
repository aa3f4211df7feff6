#include "uf/weighted_decoder.h"

#include <string>

#include "base/shape.h"
#include "base/worker_pool.h"
#include "dem/model_budget.h"

namespace vornex {

Result<WeightedUnionFindDecoder> WeightedUnionFindDecoder::create(CheckList check_to_qubits,
                                                                  std::optional<size_t> n_qubits,
                                                                  QubitWeights weights) {
    auto engine = WeightedUnionFind::create(std::move(check_to_qubits), n_qubits, std::move(weights));
    if (!engine) return engine.error();
    return WeightedUnionFindDecoder(std::move(engine).value());
}

Result<WeightedUnionFindDecoder> WeightedUnionFindDecoder::from_model(const DetectorErrorModel& model) {
    if (auto fits = check_model_footprint(model, {"a weighted Union-Find decoder", 68}); !fits) return fits.error();
    auto code = dem_code_from_model(model, "WeightedUnionFindDecoder");
    if (!code) return code.error();
    DemCode& c = code.value();
    auto decoder = create(std::move(c.check_to_qubits), c.n_qubits, std::move(c.weights));
    if (!decoder) return decoder.error();
    decoder.value().model_ = std::move(c.observables);
    return decoder;
}

Status WeightedUnionFindDecoder::check_syndrome_length(size_t length) const {
    if (length == n_checks()) return ok_status();
    return value_error("Syndrome length (" + std::to_string(length) + ") does not match n_checks (" +
                       std::to_string(n_checks()) + ")");
}

std::vector<uint8_t> WeightedUnionFindDecoder::batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const {
    const size_t width = n_checks();
    const size_t n = n_qubits();
    std::vector<uint8_t> out(batch_bytes(n_shots, n), 0);
    parallel_for_ranges(n_shots, [&](size_t begin, size_t end) {
        UfWorkspace workspace;
        for (size_t shot = begin; shot < end; ++shot)
            engine_.decode_into(syndromes.subspan(shot * width, width), workspace,
                                std::span<uint8_t>(out).subspan(shot * n, n));
    });
    return out;
}

}  // namespace vornex
