#include "code/check_graph.h"

#include <algorithm>
#include <string>

namespace vornex {
namespace {

constexpr const char* kHyperedgeText =
    "UnionFindDecoder / FastUnionFindDecoder only support stabilizer codes with checks of weight "
    "\u2264 2.\nQubit {q} participates in {k} checks (hyperedge).\nUse BlossomDecoder, "
    "SparseBlossomDecoder, or BPOSDDecoder instead.\n(Codes from generate_surface_code_checks() "
    "contain weight-4 checks)";

std::string hyperedge_message(uint32_t qubit, size_t occurrences) {
    std::string text = kHyperedgeText;
    text.replace(text.find("{q}"), 3, std::to_string(qubit));
    text.replace(text.find("{k}"), 3, std::to_string(occurrences));
    return text;
}

// (qubit, check) for every slot, in scan order; sorting stably by qubit keeps
// the scan order inside each qubit, so the first two entries of a qubit are
// the checks met first and second. Memory follows the number of slots, not
// n_qubits, so a huge declared n_qubits costs nothing here.
struct Slot {
    uint32_t qubit;
    uint32_t check;
};

}  // namespace

Result<CheckGraph> build_check_graph(CheckList check_to_qubits, std::optional<size_t> n_qubits) {
    if (check_to_qubits.empty()) return value_error("check_to_qubits must be non-empty");
    for (const auto& check : check_to_qubits)
        if (check.empty()) return value_error("All checks must be non-empty");
    size_t n_slots = 0;
    for (const auto& check : check_to_qubits) {
        for (uint32_t q : check)
            if (q == kNoIndex) return value_error("Invalid qubit index (u32::MAX)");
        n_slots += check.size();
    }
    const size_t implied = derived_n_qubits(check_to_qubits);
    if (n_qubits && implied > *n_qubits)
        return value_error("Qubit index " + std::to_string(implied - 1) + " >= n_qubits " +
                           std::to_string(*n_qubits));
    const size_t qubits = n_qubits ? *n_qubits : implied;
    // Node and qubit ids are 32-bit throughout the core.
    if (qubits > kNoIndex)
        return value_error("n_qubits " + std::to_string(qubits) + " exceeds the 32-bit index range");
    if (check_to_qubits.size() >= kNoIndex)
        return value_error("Too many checks: " + std::to_string(check_to_qubits.size()));

    std::vector<Slot> slots;
    slots.reserve(n_slots);
    for (size_t c = 0; c < check_to_qubits.size(); ++c)
        for (uint32_t q : check_to_qubits[c]) slots.push_back({q, static_cast<uint32_t>(c)});
    std::stable_sort(slots.begin(), slots.end(),
                     [](const Slot& x, const Slot& y) { return x.qubit < y.qubit; });

    CheckGraph graph;
    graph.n_checks = check_to_qubits.size();
    graph.n_qubits = qubits;
    graph.n_nodes = graph.n_checks + 1;
    const auto boundary = static_cast<uint32_t>(graph.n_checks);
    for (size_t i = 0; i < slots.size();) {
        size_t j = i;
        while (j < slots.size() && slots[j].qubit == slots[i].qubit) ++j;
        const size_t k = j - i;
        if (k >= 3) return value_error(hyperedge_message(slots[i].qubit, k));
        const uint32_t second = k == 2 ? slots[i + 1].check : boundary;
        graph.edges.push_back({slots[i].check, second, slots[i].qubit});
        i = j;
    }
    index_incidence(graph);
    return graph;
}

size_t derived_n_qubits(const CheckList& check_to_qubits) {
    bool any = false;
    uint32_t largest = 0;
    for (const auto& check : check_to_qubits)
        for (uint32_t q : check) {
            any = true;
            largest = std::max(largest, q);
        }
    return any ? size_t{largest} + 1 : 1;
}

void index_incidence(CheckGraph& graph) {
    const auto boundary = static_cast<uint32_t>(graph.n_checks);
    graph.incidence_start.assign(graph.n_nodes + 1, 0);
    for (const CheckEdge& e : graph.edges) {
        graph.incidence_start[e.a + 1] += 1;
        if (e.b != boundary) graph.incidence_start[e.b + 1] += 1;
    }
    for (size_t n = 0; n < graph.n_nodes; ++n) graph.incidence_start[n + 1] += graph.incidence_start[n];
    graph.incident_edges.resize(graph.incidence_start[graph.n_nodes]);
    std::vector<uint32_t> fill(graph.incidence_start.begin(), graph.incidence_start.end() - 1);
    for (size_t i = 0; i < graph.edges.size(); ++i) {
        const CheckEdge& e = graph.edges[i];
        graph.incident_edges[fill[e.a]++] = static_cast<uint32_t>(i);
        if (e.b != boundary) graph.incident_edges[fill[e.b]++] = static_cast<uint32_t>(i);
    }
}

std::vector<std::pair<uint32_t, uint32_t>> check_to_edges(const CheckList& check_to_qubits) {
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (const auto& check : check_to_qubits)
        for (size_t j = 0; j + 1 < check.size(); ++j) pairs.emplace_back(check[j], check[j + 1]);
    return pairs;
}

}  // namespace vornex
