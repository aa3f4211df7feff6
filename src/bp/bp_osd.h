// Constants and small helpers that belief propagation and OSD share: the
// iteration cap, the convergence threshold and lone-check message of min-sum,
// the prior LLR of a flip probability, the wall-clock budget of a BP run and
// the column order of OSD.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vornex {

// BP never runs more iterations than this in the defined decoder, whatever
// the caller asks for.
inline constexpr size_t kBpMaxIterations = 50;
// The posterior stop: BP ends once no posterior moved by this much in one
// iteration.
inline constexpr double kBpConvergence = 1e-6;
// Magnitude a check sends when it has no other qubit to take a minimum over.
inline constexpr double kBpLoneCheckMessage = 1e6;

// Prior log-likelihood ratio ln((1 - p) / p) with p clamped to
// [1e-10, 1 - 1e-10]; NaN stays NaN (BP then carries NaN and OSD orders it
// last).
double bp_prior_llr(double error_rate);

// Optional wall-clock budget of a BP run, in milliseconds from its start.
struct BpBudget {
    double max_latency_ms;
};

// Milliseconds since start in the split the budget is defined by: whole
// seconds times 1000 plus the sub-second nanoseconds / 1e6.
double bp_elapsed_ms(std::chrono::steady_clock::time_point start);

// Qubit order of OSD: increasing posterior LLR (likeliest flips first), NaN
// after every real value, equal values in ascending qubit order.
void order_by_flip_likelihood(std::span<const double> posterior, std::vector<uint32_t>& order);

}  // namespace vornex
