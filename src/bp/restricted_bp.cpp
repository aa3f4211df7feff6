#include "bp/restricted_bp.h"

#include <algorithm>
#include <cstring>

namespace vornex {

namespace {

// Empty runs compare equal without touching their (possibly null) data.
bool same_bits(const double* a, const double* b, size_t n) {
    return n == 0 || std::memcmp(a, b, n * sizeof(double)) == 0;
}

double bias_of(size_t q, std::span<const double> prior, std::span<const double> strength, const BpMessages& m) {
    if (strength.empty()) return prior[q];
    return (1.0 - strength[q]) * prior[q] + strength[q] * m.posterior[q];
}

// Clears the marks of the previous restricted run, or everything after a
// whole-graph run, so that hard_decision is 0 and nothing is marked.
void clear_region(const TannerGraph& g, BpMessages& m) {
    if (!m.region_clean || m.hard_decision.size() != g.n_qubits || m.check_marked.size() != g.n_checks) {
        m.hard_decision.assign(g.n_qubits, 0);
        m.qubit_marked.assign(g.n_qubits, 0);
        m.check_marked.assign(g.n_checks, 0);
        m.region_qubits.clear();
        m.region_checks.clear();
        m.region_clean = true;
        return;
    }
    for (uint32_t q : m.region_qubits) m.hard_decision[q] = m.qubit_marked[q] = 0;
    for (uint32_t c : m.region_checks) m.check_marked[c] = 0;
    m.region_qubits.clear();
    m.region_checks.clear();
}

// The state after iteration t everywhere: event-free outside the region.
void fill_outside(const TannerGraph& g, const EventFreeBp& free_run, size_t t, BpMessages& m) {
    const double* v2c = free_run.v2c(t);
    const double* posterior = free_run.posterior(t);
    for (size_t q = 0; q < g.n_qubits; ++q) {
        if (m.qubit_marked[q]) continue;
        m.posterior[q] = posterior[q];
        for (uint32_t j = g.qubit_offsets[q]; j < g.qubit_offsets[q + 1]; ++j) {
            const uint32_t e = g.qubit_edges[j];
            m.v2c[e] = v2c[e];
        }
    }
}

}  // namespace

EventFreeBp EventFreeBp::build(const TannerGraph& g, std::span<const double> prior, const BpSettings& settings,
                               std::span<const double> strength, size_t max_bytes) {
    EventFreeBp f;
    f.n_edges_ = g.n_edges();
    f.n_qubits_ = g.n_qubits;
    if (settings.schedule != BpSchedule::Parallel || settings.stop != BpStop::Syndrome) return f;
    if (!std::all_of(prior.begin(), prior.end(), [](double l) { return l > 0.0; })) return f;
    const size_t row_bytes = (2 * f.n_edges_ + f.n_qubits_) * sizeof(double);
    const size_t max_rows = std::max<size_t>(1, max_bytes / std::max<size_t>(row_bytes, 1));

    BpMessages m;
    m.posterior.assign(prior.begin(), prior.end());
    m.hard_decision.assign(g.n_qubits, 0);
    m.c2v.assign(f.n_edges_, 0.0);
    m.v2c.resize(f.n_edges_);
    m.check_tanh.resize(g.max_check_degree);
    for (size_t q = 0; q < g.n_qubits; ++q) {
        const double b = bias_of(q, prior, strength, m);
        for (uint32_t j = g.qubit_offsets[q]; j < g.qubit_offsets[q + 1]; ++j) m.v2c[g.qubit_edges[j]] = b;
    }
    auto record = [&] {
        f.v2c_.insert(f.v2c_.end(), m.v2c.begin(), m.v2c.end());
        f.c2v_.insert(f.c2v_.end(), m.c2v.begin(), m.c2v.end());
        f.posterior_.insert(f.posterior_.end(), m.posterior.begin(), m.posterior.end());
    };
    record();
    for (size_t t = 1; t <= settings.max_iterations && t < max_rows; ++t) {
        for (size_t c = 0; c < g.n_checks; ++c) bp_update_check(g, c, false, settings, m);
        for (size_t q = 0; q < g.n_qubits; ++q) bp_update_qubit(g, q, bias_of(q, prior, strength, m), m);
        if (!std::all_of(m.posterior.begin(), m.posterior.end(), [](double l) { return l > 0.0; })) return f;
        const double* last_v2c = f.v2c_.data() + (t - 1) * f.n_edges_;
        const double* last_posterior = f.posterior_.data() + (t - 1) * f.n_qubits_;
        if (same_bits(last_v2c, m.v2c.data(), f.n_edges_) &&
            same_bits(last_posterior, m.posterior.data(), f.n_qubits_)) {
            // Iteration t + 1 reads what iteration t read: c2v repeats from
            // here on, and with it everything else. Row t keeps this c2v.
            record();
            f.last_ = t;
            f.stationary_ = true;
            f.usable_ = true;
            return f;
        }
        record();
        f.last_ = t;
    }
    f.usable_ = true;
    return f;
}

BpOutcome run_restricted_belief_propagation(const TannerGraph& g, std::span<const double> prior,
                                            std::span<const uint8_t> syndrome, const BpSettings& settings,
                                            std::span<const double> strength, const EventFreeBp& free_run,
                                            BpMessages& m, size_t radius) {
    clear_region(g, m);
    m.posterior.resize(g.n_qubits);
    m.v2c.resize(g.n_edges());
    m.c2v.resize(g.n_edges());
    if (m.check_tanh.size() < g.max_check_degree) m.check_tanh.resize(g.max_check_degree);

    BpOutcome outcome;
    size_t region_edges = 0;  // edges of the listed checks
    auto add_check = [&](uint32_t c) {
        m.check_marked[c] = 1;
        m.region_checks.push_back(c);
        region_edges += g.check_offsets[c + 1] - g.check_offsets[c];
    };
    for (size_t c = 0; c < g.n_checks; ++c)
        if (syndrome[c] & 1) add_check(static_cast<uint32_t>(c));
    // Every prior favours no flip, so the starting decision is all 0 and
    // explains exactly the empty syndrome.
    outcome.explained = m.region_checks.empty();
    if (outcome.explained) return outcome;

    size_t grown_checks = 0;  // region_checks[0, grown_checks) have had their qubits added
    size_t grown_qubits = 0;  // region_qubits[0, grown_qubits) have had their checks added
    const size_t n_edges = g.n_edges();
    while (outcome.iterations < settings.max_iterations) {
        const size_t t = outcome.iterations;
        // A capped region is bounded by its radius: it stays restricted.
        if (!free_run.has(t + 1) || (radius == kUnboundedRadius && 2 * region_edges > n_edges)) {
            fill_outside(g, free_run, t, m);
            return continue_belief_propagation(g, prior, syndrome, settings, strength, m, outcome);
        }
        // Checks: event-free messages of iteration t from the qubits outside.
        const double* free_v2c = free_run.v2c(t);
        for (uint32_t c : m.region_checks) {
            for (uint32_t e = g.check_offsets[c]; e < g.check_offsets[c + 1]; ++e)
                if (!m.qubit_marked[g.edge_qubit[e]]) m.v2c[e] = free_v2c[e];
            bp_update_check(g, c, syndrome[c] & 1, settings, m);
        }
        // Qubits next to the new checks join with their event-free posterior
        // (within the radius).
        const double* free_posterior = free_run.posterior(t);
        for (; t < radius && grown_checks < m.region_checks.size(); ++grown_checks) {
            const uint32_t c = m.region_checks[grown_checks];
            for (uint32_t e = g.check_offsets[c]; e < g.check_offsets[c + 1]; ++e) {
                const uint32_t q = g.edge_qubit[e];
                if (m.qubit_marked[q]) continue;
                m.qubit_marked[q] = 1;
                m.region_qubits.push_back(q);
                m.posterior[q] = free_posterior[q];
            }
        }
        const double* free_c2v = free_run.c2v(t + 1);
        for (uint32_t q : m.region_qubits) {
            for (uint32_t j = g.qubit_offsets[q]; j < g.qubit_offsets[q + 1]; ++j)
                if (!m.check_marked[g.qubit_edge_check[j]]) m.c2v[g.qubit_edges[j]] = free_c2v[g.qubit_edges[j]];
            bp_update_qubit(g, q, bias_of(q, prior, strength, m), m);
        }
        ++outcome.iterations;
        // The checks next to the new qubits join (they are C_{t+2}); only
        // checks next to the region can be unexplained.
        for (; grown_qubits < m.region_qubits.size(); ++grown_qubits) {
            const uint32_t q = m.region_qubits[grown_qubits];
            for (uint32_t j = g.qubit_offsets[q]; j < g.qubit_offsets[q + 1]; ++j)
                if (!m.check_marked[g.qubit_edge_check[j]]) add_check(g.qubit_edge_check[j]);
        }
        bool explained = true;
        for (uint32_t c : m.region_checks) {
            uint8_t parity = syndrome[c] & 1;
            for (uint32_t e = g.check_offsets[c]; e < g.check_offsets[c + 1]; ++e)
                parity ^= m.hard_decision[g.edge_qubit[e]];
            if (parity) {
                explained = false;
                break;
            }
        }
        outcome.explained = explained;
        if (explained) break;
    }
    return outcome;
}

void complete_posterior(const TannerGraph& g, const EventFreeBp& free_run, size_t iterations, BpMessages& m) {
    if (!m.region_clean) return;
    const double* posterior = free_run.posterior(iterations);
    for (size_t q = 0; q < g.n_qubits; ++q)
        if (!m.qubit_marked[q]) m.posterior[q] = posterior[q];
}

}  // namespace vornex
