#include "bp/bp_osd.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vornex {

namespace {

constexpr double kMinErrorRate = 1e-10;
constexpr double kMaxErrorRate = 0.9999999999;

// Column order for OSD: the qubits BP finds likeliest to be flipped first
// (lowest LLR), NaN after every real value. The solve sets the chosen
// columns and zeroes the rest, so the columns must be the likely errors;
// taking the largest |LLR| first would pick qubits BP is sure are clean and
// can return a logical error where BP itself was right.
double flip_rank(double llr) { return std::isnan(llr) ? std::numeric_limits<double>::infinity() : llr; }

}  // namespace

double bp_prior_llr(double error_rate) {
    const double p = std::clamp(error_rate, kMinErrorRate, kMaxErrorRate);
    return std::log((1.0 - p) / p);
}

double bp_elapsed_ms(std::chrono::steady_clock::time_point start) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                        .count();
    const int64_t secs = ns / 1'000'000'000;
    const int64_t sub = ns % 1'000'000'000;
    return static_cast<double>(secs) * 1000.0 + static_cast<double>(sub) / 1e6;
}

// Equal ranks keep ascending qubit order. The index tie-break gives the
// stable order without stable_sort's scratch buffer.
void order_by_flip_likelihood(std::span<const double> posterior, std::vector<uint32_t>& order) {
    order.resize(posterior.size());
    for (size_t q = 0; q < order.size(); ++q) order[q] = static_cast<uint32_t>(q);
    std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
        const double rx = flip_rank(posterior[x]);
        const double ry = flip_rank(posterior[y]);
        if (rx != ry) return rx < ry;
        const bool nx = std::isnan(posterior[x]), ny = std::isnan(posterior[y]);
        return nx != ny ? ny : x < y;
    });
}

}  // namespace vornex
