#include "evaluation/ler_benchmark.h"

#include <algorithm>
#include <optional>

#include "base/chacha_rng.h"
#include "code/rotated_surface.h"
#include "learned/gnn_trainer.h"
#include "learned/hybrid_decoder.h"
#include "matching/blossom.h"

namespace vornex {
namespace {

constexpr int kChaChaRounds = 12;
constexpr uint64_t kTrainSamples = 30;
constexpr uint64_t kTrainEpochs = 2;
constexpr uint64_t kTrainBpIterations = 10;
constexpr size_t kNetworkHidden = 16;
constexpr size_t kNetworkLayers = 2;

double rate(uint64_t failures, uint64_t shots) {
    return shots < 1 ? 0.0 : static_cast<double>(failures) / static_cast<double>(shots);
}

}  // namespace

namespace {

// Rows 0 .. d-2 of column 0 (row 0 alone for d <= 1).
uint32_t test_rows(uint32_t d) { return d > 1 ? d - 1 : 1; }

}  // namespace

std::vector<uint32_t> ler_logical_test_qubits(uint32_t d) {
    std::vector<uint32_t> qubits;
    for (uint32_t row = 0; row < test_rows(d); ++row) qubits.push_back(row * d);
    return qubits;
}

bool ler_logical_failure(std::span<const uint8_t> correction, std::span<const uint8_t> error, uint32_t d) {
    const size_t n = std::min(correction.size(), error.size());
    uint8_t parity = 0;
    for (uint32_t row = 0; row < test_rows(d); ++row) {
        const size_t q = size_t{row} * d;
        if (q < n) parity ^= correction[q] ^ error[q];
    }
    return parity & 1;
}

CheckList rotated_surface_checks(uint32_t d) {
    CheckList checks;
    if (d < 2) return checks;
    const int64_t last = static_cast<int64_t>(d) - 1;
    for (int64_t j = 0; j < last; ++j)
        for (int64_t k = 0; k < last; ++k)
            if ((j + k) % 2 == 0) checks.push_back(rotated_cell(d, j, k));
    // The scenarios' own boundary order and parities (bottom pairs where d + k
    // is even), not those of generate_rotated_surface_code.
    for (int64_t k = 0; k < last; ++k) {
        if (k % 2 == 1) checks.push_back(rotated_cell(d, -1, k));
        if ((d + k) % 2 == 0) checks.push_back(rotated_cell(d, last, k));
    }
    return checks;
}

std::optional<uint64_t> ler_error_threshold(double p) {
    if (!(p > 0.0)) return 0;
    const double scaled = p * 18446744073709551616.0;
    if (p >= 1.0 || scaled >= 18446744073709551616.0) return std::nullopt;
    return static_cast<uint64_t>(scaled);
}

uint64_t ler_scenario_steps(const LerScenario& scenario) {
    const uint64_t training = scenario.phys_error > 0.0 ? training_steps(kTrainSamples, kTrainEpochs) : 0;
    return training + scenario.shots;
}

Result<LerResult> run_ler_scenario(const LerScenario& scenario, GNNPredecoder network, ProgressSink* progress) {
    const uint64_t steps = ler_scenario_steps(scenario);
    const uint64_t training_steps = steps - scenario.shots;
    const uint32_t d = scenario.distance;
    const size_t n_qubits = size_t{d} * d;
    const CheckList checks = rotated_surface_checks(d);
    const BlossomGraph blossom = build_blossom_graph(checks, n_qubits, std::nullopt);
    auto built = HybridDecoder::create(checks, n_qubits, {}, std::move(network));
    if (!built) return built.error();
    HybridDecoder hybrid = std::move(built).value();
    const double p = scenario.phys_error;
    if (p > 0.0) {
        PartProgress training(progress, 0, steps);
        if (auto trained = hybrid.train_bp(kTrainSamples, kTrainEpochs, p, kTrainBpIterations,
                                           progress != nullptr ? &training : nullptr);
            !trained)
            return trained.error();
    }

    ChaChaRng rng(kLerSeed, kChaChaRounds);
    const auto threshold = ler_error_threshold(p);
    std::vector<uint8_t> error(n_qubits), syndrome(checks.size());
    uint64_t blossom_failures = 0, hybrid_failures = 0;
    for (uint64_t shot = 0; shot < scenario.shots; ++shot) {
        if (p > 0.0)
            for (auto& e : error) e = !threshold || rng.next_u64() < *threshold;
        for (size_t c = 0; c < checks.size(); ++c) {
            uint8_t bit = 0;
            for (uint32_t q : checks[c]) bit ^= error[q];
            syndrome[c] = bit;
        }
        auto matched = blossom_decode(blossom, syndrome);
        if (!matched) return matched.error();
        auto learned = hybrid.decode_hybrid(syndrome);
        if (!learned) return learned.error();
        blossom_failures += ler_logical_failure(matched.value(), error, d);
        hybrid_failures += ler_logical_failure(learned.value(), error, d);
        if (progress != nullptr && !progress->report(training_steps + shot + 1, steps)) return interrupted_error();
    }
    return LerResult{scenario.name, d, p, scenario.shots, rate(hybrid_failures, scenario.shots),
                     rate(blossom_failures, scenario.shots)};
}

Result<std::string> ler_results_text(const std::vector<LerResult>& results) {
    try {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const auto& r : results) {
            nlohmann::ordered_json j;
            j["name"] = r.name;
            j["distance"] = r.distance;
            j["phys_error"] = r.phys_error;
            j["shots"] = r.shots;
            j["vornex_ler"] = r.vornex_ler;
            j["pymatching_ler"] = r.pymatching_ler;
            array.push_back(std::move(j));
        }
        return array.dump(2);
    } catch (const nlohmann::json::exception& e) {
        return runtime_error(std::string("JSON error: ") + e.what());
    }
}

Result<std::string> LERBenchmark::run_all(ProgressSink* progress) const {
    uint64_t total = 0;
    for (const LerScenario& scenario : kLerScenarios) total += ler_scenario_steps(scenario);
    std::vector<LerResult> results;
    uint64_t offset = 0;
    for (const LerScenario& scenario : kLerScenarios) {
        GNNPredecoder network(DetectorGraph::kNodeFeatureDim, DetectorGraph::kEdgeFeatureDim, kNetworkHidden,
                              kNetworkLayers);
        PartProgress part(progress, offset, total);
        offset += ler_scenario_steps(scenario);
        auto result = run_ler_scenario(scenario, std::move(network), progress != nullptr ? &part : nullptr);
        if (!result) return result.error();
        results.push_back(std::move(result.value()));
    }
    return ler_results_text(results);
}

}  // namespace vornex
