// Logical error rates of the hybrid (network + sparse matching) decoder and
// the weighted matching decoder on the same Monte-Carlo samples of six fixed
// rotated-surface-code scenarios (one check type; a residual fails when it is
// the layout's logical, the string along row 0).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/result.h"
#include "code/check_graph.h"
#include "learned/gnn_predecoder.h"

namespace vornex {

struct LerScenario {
    const char* name;
    double phys_error;
    uint32_t distance;
    uint64_t shots;
};

inline constexpr std::array<LerScenario, 6> kLerScenarios = {{
    {"Rotated Surface d=5, p=0.01", 0.01, 5, 1000},
    {"Rotated Surface d=7, p=0.005", 0.005, 7, 500},
    {"Rotated Surface d=9, p=0.003", 0.003, 9, 300},
    {"Empty syndrome (d=5)", 0.0, 5, 100},
    {"High noise p=0.04 (d=5)", 0.04, 5, 500},
    {"Large code d=13, p=0.006", 0.006, 13, 100},
}};

// The fixed seed of the sampling generator (ChaCha, 12 rounds), the same for
// every scenario and every run.
inline constexpr std::array<uint8_t, 32> kLerSeed = {'v', 'o', 'r', 'n', 'e', 'x', '-', 'l', 'e', 'r', '-',
                                                     'b', 'e', 'n', 'c', 'h', 'm', 'a', 'r', 'k', '-', 'f',
                                                     'i', 'x', 'e', 'd', '-', 's', 'e', 'e', 'd', '!'};

struct LerResult {
    std::string name;
    uint32_t distance = 0;
    double phys_error = 0.0;
    uint64_t shots = 0;
    double vornex_ler = 0.0;
    double pymatching_ler = 0.0;
};

// Plaquettes with j + k even row by row, then the boundary pairs: top pairs
// at odd k, bottom pairs where d + k is even. (d^2 - 1) / 2 checks for odd d.
CheckList rotated_surface_checks(uint32_t distance);

// The qubits whose residual parity tells the logical class: column 0 above the
// bottom row. Row 0 commutes with every check and is the logical itself, so
// it cannot be the test; this column has odd overlap with row 0 and even
// overlap with every local operator that commutes with every check. (The
// bottom pairs sit on the other cell parity, so the bottom row is not the
// mirror of the top and the bottom-left qubit lies in no check.)
std::vector<uint32_t> ler_logical_test_qubits(uint32_t distance);

// Whether correction XOR error, over the qubits both cover, has odd parity on
// ler_logical_test_qubits: a residual that is a non-trivial logical.
bool ler_logical_failure(std::span<const uint8_t> correction, std::span<const uint8_t> error, uint32_t distance);

// floor(p * 2^64) as the bound a uniform 64-bit draw must stay below; nullopt
// for p >= 1 (every qubit flips).
std::optional<uint64_t> ler_error_threshold(double p);

// Units of work one scenario reports: its training steps (when p > 0), then
// one per shot.
uint64_t ler_scenario_steps(const LerScenario& scenario);

// One scenario with the given network inside the hybrid decoder (trained
// with BP targets first when p > 0). Reports ler_scenario_steps units to
// `progress` (may be null); when it asks to stop the result is
// interrupted_error().
Result<LerResult> run_ler_scenario(const LerScenario& scenario, GNNPredecoder network,
                                   ProgressSink* progress = nullptr);

// Records with members in order name, distance, phys_error, shots,
// vornex_ler, pymatching_ler, as two-blank indented JSON.
Result<std::string> ler_results_text(const std::vector<LerResult>& results);

class LERBenchmark {
public:
    // Every scenario with a fresh, thread-seeded network (so vornex_ler
    // varies between runs while pymatching_ler does not). Progress is
    // reported over all scenarios' steps.
    Result<std::string> run_all(ProgressSink* progress = nullptr) const;
};

}  // namespace vornex
