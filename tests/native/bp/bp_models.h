// Models for the BP tests: random codes, and local models whose events stay
// local (a surface code measured repeatedly; hyperedges of weight three on a
// grid, as a colour code's circuit model has).
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "code/check_graph.h"

namespace vornex::testing {

struct BpModel {
    CheckList checks;
    size_t n_qubits = 0;
    std::vector<double> rates;  // per column
};

// Random LDPC code: columns of weight 3 on random checks (no locality).
inline BpModel random_ldpc_model(std::mt19937_64& rng, size_t n_checks, size_t n_columns, double p) {
    BpModel m;
    m.checks.resize(n_checks);
    m.n_qubits = n_columns;
    for (uint32_t q = 0; q < n_columns; ++q) {
        std::vector<uint32_t> picked;
        while (picked.size() < std::min<size_t>(3, n_checks)) {
            const uint32_t c = static_cast<uint32_t>(rng() % n_checks);
            if (std::find(picked.begin(), picked.end(), c) == picked.end()) picked.push_back(c);
        }
        for (uint32_t c : picked) m.checks[c].push_back(q);
    }
    m.rates.assign(n_columns, p);
    return m;
}

// Unrotated surface code of distance d (Z checks on vertices of a d x (d-1)
// grid of plaquettes), measured `rounds` times with faulty measurements:
// detector (r, c) compares rounds r-1 and r; a data error flips the checks
// of its qubit in one round, a measurement error one check in two rounds.
inline BpModel surface_memory_model(uint32_t d, uint32_t rounds, double p) {
    // Checks: (d - 1) columns x d rows of vertices; qubits: horizontal edges
    // d x d (boundary ones in one check) and vertical edges (d - 1) x (d - 1).
    const uint32_t cols = d - 1, rows = d;
    const auto check_id = [&](uint32_t r, uint32_t c) { return r * cols + c; };
    std::vector<std::vector<uint32_t>> qubit_checks;
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t x = 0; x <= cols; ++x) {
            std::vector<uint32_t> cs;
            if (x > 0) cs.push_back(check_id(r, x - 1));
            if (x < cols) cs.push_back(check_id(r, x));
            qubit_checks.push_back(cs);
        }
    for (uint32_t r = 0; r + 1 < rows; ++r)
        for (uint32_t c = 0; c < cols; ++c) qubit_checks.push_back({check_id(r, c), check_id(r + 1, c)});
    const uint32_t n_space = rows * cols;
    BpModel m;
    m.checks.resize(n_space * rounds);
    auto add_column = [&](const std::vector<uint32_t>& detectors) {
        for (uint32_t det : detectors) m.checks[det].push_back(static_cast<uint32_t>(m.n_qubits));
        ++m.n_qubits;
    };
    for (uint32_t t = 0; t < rounds; ++t) {
        for (const auto& cs : qubit_checks) {
            std::vector<uint32_t> dets;
            for (uint32_t c : cs) dets.push_back(t * n_space + c);
            add_column(dets);
        }
        if (t + 1 < rounds)
            for (uint32_t c = 0; c < n_space; ++c) add_column({t * n_space + c, (t + 1) * n_space + c});
    }
    m.rates.assign(m.n_qubits, p);
    return m;
}

// Local hyperedges on a side x side x layers grid of detectors: every
// detector starts columns of weight one to three among itself and its
// neighbours one step away (weight three as a colour code's hyperedges).
inline BpModel local_hyperedge_model(std::mt19937_64& rng, uint32_t side, uint32_t layers, double p) {
    BpModel m;
    const auto id = [&](uint32_t x, uint32_t y, uint32_t z) { return (z * side + y) * side + x; };
    m.checks.resize(side * side * layers);
    for (uint32_t z = 0; z < layers; ++z)
        for (uint32_t y = 0; y < side; ++y)
            for (uint32_t x = 0; x < side; ++x) {
                std::vector<uint32_t> near{id(x, y, z)};
                if (x + 1 < side) near.push_back(id(x + 1, y, z));
                if (y + 1 < side) near.push_back(id(x, y + 1, z));
                if (z + 1 < layers) near.push_back(id(x, y, z + 1));
                for (int k = 0; k < 4; ++k) {
                    std::vector<uint32_t> col{near[0]};
                    const size_t extra = rng() % 3;
                    for (size_t e = 0; e < extra && near.size() > 1; ++e) {
                        const uint32_t det = near[1 + rng() % (near.size() - 1)];
                        if (std::find(col.begin(), col.end(), det) == col.end()) col.push_back(det);
                    }
                    for (uint32_t det : col) m.checks[det].push_back(static_cast<uint32_t>(m.n_qubits));
                    ++m.n_qubits;
                }
            }
    m.rates.resize(m.n_qubits);
    for (double& r : m.rates) r = p * (0.5 + (rng() % 1000) / 1000.0);
    return m;
}

// A random error of the model's rates and its syndrome.
inline std::vector<uint8_t> sampled_syndrome(std::mt19937_64& rng, const BpModel& m) {
    std::vector<uint8_t> error(m.n_qubits);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (size_t q = 0; q < m.n_qubits; ++q) error[q] = u(rng) < m.rates[q];
    std::vector<uint8_t> s(m.checks.size());
    for (size_t c = 0; c < m.checks.size(); ++c)
        for (uint32_t q : m.checks[c]) s[c] ^= error[q];
    return s;
}

}  // namespace vornex::testing
