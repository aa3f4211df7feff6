#include "bp/tanner_graph.h"

#include <algorithm>
#include <string>

#include "base/memory_budget.h"

namespace vornex {

Status check_qubit_budget(size_t n_qubits) {
    return check_count_budget("the check list", n_qubits, "qubits", "belief propagation", 40);
}

Result<TannerGraph> build_tanner_graph(const CheckList& check_to_qubits, size_t n_qubits,
                                       RepeatedQubits repeats) {
    TannerGraph g;
    g.n_checks = check_to_qubits.size();
    g.n_qubits = n_qubits;
    size_t listed = 0;
    for (const auto& check : check_to_qubits) listed += check.size();
    if (g.n_checks >= kNoIndex || n_qubits >= kNoIndex || listed >= kNoIndex)
        return value_error("Code too large: " + std::to_string(g.n_checks) + " checks x " +
                           std::to_string(n_qubits) + " qubits, " + std::to_string(listed) + " check entries");
    if (auto fits = check_qubit_budget(n_qubits); !fits) return fits.error();

    g.check_offsets.reserve(g.n_checks + 1);
    g.check_offsets.push_back(0);
    g.edge_qubit.reserve(listed);
    std::vector<uint32_t> degree(n_qubits, 0);
    bool repeated = false;
    for (const auto& check : check_to_qubits) {
        const size_t first = g.edge_qubit.size();
        for (uint32_t q : check)
            if (q < n_qubits) g.edge_qubit.push_back(q);
        std::sort(g.edge_qubit.begin() + first, g.edge_qubit.end());
        if (repeats == RepeatedQubits::Counted)
            for (size_t i = first, j = first; i < g.edge_qubit.size(); i = j) {
                while (j < g.edge_qubit.size() && g.edge_qubit[j] == g.edge_qubit[i]) ++j;
                g.edge_repeats.push_back(static_cast<uint32_t>(j - i));
                repeated |= j - i > 1;
            }
        g.edge_qubit.erase(std::unique(g.edge_qubit.begin() + first, g.edge_qubit.end()), g.edge_qubit.end());
        for (size_t e = first; e < g.edge_qubit.size(); ++e) ++degree[g.edge_qubit[e]];
        g.max_check_degree = std::max(g.max_check_degree, g.edge_qubit.size() - first);
        g.check_offsets.push_back(static_cast<uint32_t>(g.edge_qubit.size()));
    }

    if (!repeated) g.edge_repeats = std::vector<uint32_t>();

    g.qubit_offsets.assign(n_qubits + 1, 0);
    for (size_t q = 0; q < n_qubits; ++q) g.qubit_offsets[q + 1] = g.qubit_offsets[q] + degree[q];
    g.qubit_edges.resize(g.n_edges());
    g.qubit_edge_check.resize(g.n_edges());
    std::vector<uint32_t> fill(g.qubit_offsets.begin(), g.qubit_offsets.end() - 1);
    for (size_t c = 0; c < g.n_checks; ++c)
        for (uint32_t e = g.check_offsets[c]; e < g.check_offsets[c + 1]; ++e) {
            const uint32_t slot = fill[g.edge_qubit[e]]++;
            g.qubit_edges[slot] = e;
            g.qubit_edge_check[slot] = static_cast<uint32_t>(c);
        }
    return g;
}

bool explains_syndrome(const TannerGraph& graph, const uint8_t* error, const uint8_t* syndrome) {
    for (size_t c = 0; c < graph.n_checks; ++c) {
        uint8_t parity = syndrome[c] & 1;
        for (uint32_t e = graph.check_offsets[c]; e < graph.check_offsets[c + 1]; ++e)
            parity ^= error[graph.edge_qubit[e]] & 1;
        if (parity) return false;
    }
    return true;
}

}  // namespace vornex
