#include "bp/belief_propagation.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace vornex {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Min-sum over the edges [begin, end) of one check: the sign parity of all
// incoming messages and the two smallest magnitudes, so "all but one" is the
// overall minimum unless that one is the argmin.
struct MinSumSummary {
    bool negative = false;
    double min1 = kInf;
    double min2 = kInf;
    uint32_t argmin = kNoIndex;
};

// With kRepeats, an edge listed k times counts k times, as the defined
// decoder's per-listing slots do: its sign k times, and its magnitude a
// second time when k > 1, so the qubit's own other listing can be the
// minimum of "all but one" (a third copy changes neither minimum).
template <bool kRepeats>
MinSumSummary summarise_min_sum(const double* v2c, const uint32_t* repeats, uint32_t begin, uint32_t end) {
    MinSumSummary s;
    auto take = [&s](double mag, uint32_t e) {
        const bool lowest = mag < s.min1;
        s.min2 = lowest ? s.min1 : std::min(s.min2, mag);
        s.argmin = lowest ? e : s.argmin;
        s.min1 = lowest ? mag : s.min1;
    };
    for (uint32_t e = begin; e < end; ++e) {
        const double m = v2c[e];
        const double mag = std::fabs(m);
        if constexpr (kRepeats) {
            s.negative ^= (m < 0.0) && (repeats[e] & 1);
            take(mag, e);
            if (repeats[e] > 1) take(mag, e);
        } else {
            s.negative ^= m < 0.0;
            take(mag, e);
        }
    }
    return s;
}

MinSumSummary summarise_min_sum(const TannerGraph& g, const double* v2c, uint32_t begin, uint32_t end) {
    return g.edge_repeats.empty() ? summarise_min_sum<false>(v2c, nullptr, begin, end)
                                  : summarise_min_sum<true>(v2c, g.edge_repeats.data(), begin, end);
}

double min_sum_message(const MinSumSummary& s, double own, uint32_t e, bool fired, double scale) {
    const bool negative = s.negative ^ (own < 0.0) ^ fired;
    const double mag = e == s.argmin ? s.min2 : s.min1;
    const double scaled = mag == kInf ? kBpLoneCheckMessage : scale * mag;
    return negative ? -scaled : scaled;
}

// Tanh rule from the product of the other qubits' tanh(m / 2).
double product_sum_message(double product, bool fired) {
    const double t = std::clamp(product, -kProductSumMaxTanh, kProductSumMaxTanh);
    const double m = 2.0 * std::atanh(t);
    return fired ? -m : m;
}

bool fired(std::span<const uint8_t> syndrome, size_t c) { return syndrome[c] & 1; }

// Every min-sum message, for the parallel schedule: update_check's min-sum
// rule over all checks, with the per-check branches hoisted.
template <bool kRepeats>
void min_sum_checks(const TannerGraph& g, std::span<const uint8_t> syndrome, double scale, BpMessages& m) {
    const double* v2c = m.v2c.data();
    const uint32_t* repeats = g.edge_repeats.data();
    double* c2v = m.c2v.data();
    for (size_t c = 0; c < g.n_checks; ++c) {
        const uint32_t begin = g.check_offsets[c], end = g.check_offsets[c + 1];
        const MinSumSummary s = summarise_min_sum<kRepeats>(v2c, repeats, begin, end);
        const bool is_fired = fired(syndrome, c);
        for (uint32_t e = begin; e < end; ++e) c2v[e] = min_sum_message(s, v2c[e], e, is_fired, scale);
    }
}

// Every message of check c, for the parallel schedule.
void update_check(const TannerGraph& g, size_t c, bool is_fired, const BpSettings& settings, BpMessages& m) {
    const uint32_t begin = g.check_offsets[c], end = g.check_offsets[c + 1];
    const double* v2c = m.v2c.data();
    double* c2v = m.c2v.data();
    if (settings.method == BpMethod::MinSum) {
        const MinSumSummary s = summarise_min_sum(g, v2c, begin, end);
        for (uint32_t e = begin; e < end; ++e)
            c2v[e] = min_sum_message(s, v2c[e], e, is_fired, settings.ms_scaling_factor);
        return;
    }
    // Exclusive products in O(degree): c2v[e] first holds the product of the
    // tanh values before e (taken left to right), then is multiplied by the
    // product of those after e (taken right to left). No division, so a zero
    // tanh (a message of exactly 0) is exact. check_message_to forms each
    // product the same way, so both schedules round alike.
    double* t = m.check_tanh.data();
    double before = 1.0;
    for (uint32_t e = begin; e < end; ++e) {
        t[e - begin] = std::tanh(0.5 * v2c[e]);
        c2v[e] = before;
        before *= t[e - begin];
    }
    double after = 1.0;
    for (uint32_t e = end; e-- > begin;) {
        c2v[e] = product_sum_message(c2v[e] * after, is_fired);
        after *= t[e - begin];
    }
}

// The message of check c to the qubit of edge `target` alone, for the serial
// schedule; the exclusive product is split around `target` as update_check
// splits it, from the per-edge tanh values (the same bits update_check
// computes).
double check_message_to(const TannerGraph& g, size_t c, uint32_t target, bool is_fired, const BpSettings& settings,
                        const BpMessages& m) {
    const uint32_t begin = g.check_offsets[c], end = g.check_offsets[c + 1];
    if (settings.method == BpMethod::MinSum)
        return min_sum_message(summarise_min_sum(g, m.v2c.data(), begin, end), m.v2c[target], target, is_fired,
                               settings.ms_scaling_factor);
    const double* t = m.edge_tanh.data();
    double before = 1.0;
    for (uint32_t e = begin; e < target; ++e) before *= t[e];
    double after = 1.0;
    for (uint32_t e = end; --e > target;) after *= t[e];
    return product_sum_message(before * after, is_fired);
}

void refresh_edge_tanh(const TannerGraph& g, size_t q, BpMessages& m) {
    for (uint32_t j = g.qubit_offsets[q]; j < g.qubit_offsets[q + 1]; ++j) {
        const uint32_t e = g.qubit_edges[j];
        m.edge_tanh[e] = std::tanh(0.5 * m.v2c[e]);
    }
}

// v2c[j] = bias + the sum of the qubit's other incoming messages, added in
// list order rather than as total minus own term: in symmetric codes such
// sums often cancel to exactly zero, where one rounding step would decide the
// sign of every message the check sends. Each kernel returns the posterior,
// bias + every incoming message in list order.
//
// For small degrees all W sums advance together, each skipping its own term
// by a select, so the fixed-width inner loop vectorises and every sum keeps
// the bits of the plain loop.
template <uint32_t W>
[[gnu::always_inline]] inline double qubit_messages_fixed(const uint32_t* edges, uint32_t len, double bias,
                                                          const double* c2v, double* v2c) {
    double sums[W];
    for (uint32_t j = 0; j < W; ++j) sums[j] = bias;
    double total = bias;
    for (uint32_t k = 0; k < len; ++k) {
        const double x = c2v[edges[k]];
        total += x;
        for (uint32_t j = 0; j < W; ++j) sums[j] = j == k ? sums[j] : sums[j] + x;
    }
    for (uint32_t j = 0; j < len; ++j) v2c[edges[j]] = sums[j];
    return total;
}

double qubit_messages_any(const uint32_t* edges, uint32_t len, double bias, const double* c2v, double* v2c) {
    double total = bias;
    for (uint32_t j = 0; j < len; ++j) {
        total += c2v[edges[j]];
        double sum = bias;
        for (uint32_t k = 0; k < len; ++k)
            if (k != j) sum += c2v[edges[k]];
        v2c[edges[j]] = sum;
    }
    return total;
}

// An edge listed k times adds its message k times, one after another, and
// k - 1 times to its own outgoing message.
double qubit_messages_repeated(const uint32_t* edges, uint32_t len, const uint32_t* repeats, double bias,
                               const double* c2v, double* v2c) {
    double total = bias;
    for (uint32_t k = 0; k < len; ++k)
        for (uint32_t r = 0; r < repeats[edges[k]]; ++r) total += c2v[edges[k]];
    for (uint32_t j = 0; j < len; ++j) {
        double sum = bias;
        for (uint32_t k = 0; k < len; ++k)
            for (uint32_t r = k == j; r < repeats[edges[k]]; ++r) sum += c2v[edges[k]];
        v2c[edges[j]] = sum;
    }
    return total;
}

// Posterior and outgoing messages of qubit q from its incoming messages.
[[gnu::always_inline]] inline void update_qubit(const TannerGraph& g, size_t q, double bias, BpMessages& m) {
    const uint32_t begin = g.qubit_offsets[q], len = g.qubit_offsets[q + 1] - begin;
    const uint32_t* edges = g.qubit_edges.data() + begin;
    const double* c2v = m.c2v.data();
    double* v2c = m.v2c.data();
    double total;
    if (!g.edge_repeats.empty())
        total = qubit_messages_repeated(edges, len, g.edge_repeats.data(), bias, c2v, v2c);
    else if (len <= 4)
        total = qubit_messages_fixed<4>(edges, len, bias, c2v, v2c);
    else if (len <= 8)
        total = qubit_messages_fixed<8>(edges, len, bias, c2v, v2c);
    else if (len <= 16)
        total = qubit_messages_fixed<16>(edges, len, bias, c2v, v2c);
    else
        total = qubit_messages_any(edges, len, bias, c2v, v2c);
    m.posterior[q] = total;
    m.hard_decision[q] = total < 0.0 ? 1 : 0;
}

// A qubit's bias in an iteration: its prior in plain BP.
struct PriorBias {
    const double* prior;
    double operator()(size_t q, const BpMessages&) const { return prior[q]; }
};

// With memory: (1 - strength) prior + strength * the posterior of the
// previous iteration (read before the qubit's update overwrites it).
struct MemoryBias {
    const double* prior;
    const double* strength;
    double operator()(size_t q, const BpMessages& m) const {
        return (1.0 - strength[q]) * prior[q] + strength[q] * m.posterior[q];
    }
};

template <class Bias>
double parallel_iteration(const TannerGraph& g, Bias bias, std::span<const uint8_t> syndrome,
                          const BpSettings& settings, BpMessages& m) {
    if (settings.method == BpMethod::ProductSum)
        for (size_t c = 0; c < g.n_checks; ++c) update_check(g, c, fired(syndrome, c), settings, m);
    else if (g.edge_repeats.empty())
        min_sum_checks<false>(g, syndrome, settings.ms_scaling_factor, m);
    else
        min_sum_checks<true>(g, syndrome, settings.ms_scaling_factor, m);
    double delta = 0.0;
    for (size_t q = 0; q < g.n_qubits; ++q) {
        const double before = m.posterior[q];
        update_qubit(g, q, bias(q, m), m);
        delta = std::max(delta, std::fabs(m.posterior[q] - before));
    }
    return delta;
}

template <class Bias>
double serial_iteration(const TannerGraph& g, Bias bias, std::span<const uint8_t> syndrome,
                        const BpSettings& settings, BpMessages& m) {
    double delta = 0.0;
    for (size_t q = 0; q < g.n_qubits; ++q) {
        for (uint32_t j = g.qubit_offsets[q]; j < g.qubit_offsets[q + 1]; ++j) {
            const uint32_t c = g.qubit_edge_check[j];
            const uint32_t e = g.qubit_edges[j];
            m.c2v[e] = check_message_to(g, c, e, fired(syndrome, c), settings, m);
        }
        const double before = m.posterior[q];
        update_qubit(g, q, bias(q, m), m);
        if (settings.method == BpMethod::ProductSum) refresh_edge_tanh(g, q, m);
        delta = std::max(delta, std::fabs(m.posterior[q] - before));
    }
    return delta;
}

// The state before the first iteration, in two steps: the prior decision
// alone (all a syndrome it already explains needs), then the messages.
void reset_decision(const TannerGraph& g, std::span<const double> prior, BpMessages& m) {
    m.posterior.assign(prior.begin(), prior.end());
    m.hard_decision.resize(g.n_qubits);
    for (size_t q = 0; q < g.n_qubits; ++q) m.hard_decision[q] = prior[q] < 0.0 ? 1 : 0;
}

template <class Bias>
void reset_messages(const TannerGraph& g, Bias bias, const BpSettings& settings, BpMessages& m) {
    m.c2v.assign(g.n_edges(), 0.0);
    m.v2c.resize(g.n_edges());
    for (size_t q = 0; q < g.n_qubits; ++q) {
        const double b = bias(q, m);
        for (uint32_t j = g.qubit_offsets[q]; j < g.qubit_offsets[q + 1]; ++j) m.v2c[g.qubit_edges[j]] = b;
    }
    if (m.check_tanh.size() < g.max_check_degree) m.check_tanh.resize(g.max_check_degree);
    if (settings.method == BpMethod::ProductSum && settings.schedule == BpSchedule::Serial) {
        m.edge_tanh.resize(g.n_edges());
        for (size_t q = 0; q < g.n_qubits; ++q) refresh_edge_tanh(g, q, m);
    }
}

template <class Bias>
void iterate(const TannerGraph& graph, Bias bias, std::span<const uint8_t> syndrome, const BpSettings& settings,
             BpMessages& messages, std::optional<BpBudget> budget, std::chrono::steady_clock::time_point start,
             BpOutcome& outcome) {
    while (outcome.iterations < settings.max_iterations) {
        if (budget && budget->max_latency_ms <= bp_elapsed_ms(start)) break;
        const double delta = settings.schedule == BpSchedule::Parallel
                                 ? parallel_iteration(graph, bias, syndrome, settings, messages)
                                 : serial_iteration(graph, bias, syndrome, settings, messages);
        ++outcome.iterations;
        if (settings.stop == BpStop::Posterior) {
            if (delta < kBpConvergence) break;
            continue;
        }
        outcome.explained = explains_syndrome(graph, messages.hard_decision.data(), syndrome.data());
        if (outcome.explained) break;
    }
    if (settings.stop == BpStop::Posterior)
        outcome.explained = explains_syndrome(graph, messages.hard_decision.data(), syndrome.data());
}

}  // namespace

BpOutcome run_belief_propagation(const TannerGraph& graph, std::span<const double> prior_llr,
                                 std::span<const uint8_t> syndrome, const BpSettings& settings,
                                 BpMessages& messages, std::optional<BpBudget> budget) {
    const auto start = std::chrono::steady_clock::now();
    reset_decision(graph, prior_llr, messages);
    messages.region_clean = false;
    BpOutcome outcome;
    // The posterior stop sets `explained` after its last iteration instead.
    if (settings.stop == BpStop::Syndrome) {
        outcome.explained = explains_syndrome(graph, messages.hard_decision.data(), syndrome.data());
        if (outcome.explained) return outcome;
    }
    const PriorBias bias{prior_llr.data()};
    reset_messages(graph, bias, settings, messages);
    iterate(graph, bias, syndrome, settings, messages, budget, start, outcome);
    return outcome;
}

BpOutcome run_memory_belief_propagation(const TannerGraph& graph, std::span<const double> prior_llr,
                                        std::span<const uint8_t> syndrome, const BpSettings& settings,
                                        const BpMemory& memory, BpMessages& messages) {
    BpOutcome outcome;
    messages.region_clean = false;
    if (!memory.resume) {
        reset_decision(graph, prior_llr, messages);
        outcome.explained = explains_syndrome(graph, messages.hard_decision.data(), syndrome.data());
        if (settings.stop == BpStop::Syndrome && outcome.explained) return outcome;
    }
    const MemoryBias bias{prior_llr.data(), memory.strength.data()};
    reset_messages(graph, bias, settings, messages);
    iterate(graph, bias, syndrome, settings, messages, std::nullopt, std::chrono::steady_clock::now(), outcome);
    return outcome;
}

BpOutcome continue_belief_propagation(const TannerGraph& graph, std::span<const double> prior_llr,
                                      std::span<const uint8_t> syndrome, const BpSettings& settings,
                                      std::span<const double> strength, BpMessages& messages, BpOutcome so_far) {
    messages.region_clean = false;
    if (messages.check_tanh.size() < graph.max_check_degree) messages.check_tanh.resize(graph.max_check_degree);
    const auto start = std::chrono::steady_clock::now();
    if (strength.empty())
        iterate(graph, PriorBias{prior_llr.data()}, syndrome, settings, messages, std::nullopt, start, so_far);
    else
        iterate(graph, MemoryBias{prior_llr.data(), strength.data()}, syndrome, settings, messages, std::nullopt,
                start, so_far);
    return so_far;
}

void bp_update_check(const TannerGraph& graph, size_t c, bool is_fired, const BpSettings& settings,
                     BpMessages& messages) {
    update_check(graph, c, is_fired, settings, messages);
}

void bp_update_qubit(const TannerGraph& graph, size_t q, double bias, BpMessages& messages) {
    update_qubit(graph, q, bias, messages);
}

}  // namespace vornex
