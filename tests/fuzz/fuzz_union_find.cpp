// Random codes whose qubits lie in zero, one or two checks (self-loops and
// repeats included) and random syndrome bytes. Checks the Union-Find core's
// guarantees: a correction of n_qubits bytes in {0, 1}, unused qubits never
// set, identical bytes from a reused workspace, and a correction that
// reproduces the syndrome whenever every boundary-free component of the check
// graph holds an even number of defects.
#include <cstdlib>
#include <utility>
#include <numeric>
#include <optional>
#include <vector>

#include "code/check_graph.h"
#include "fuzz_input.h"
#include "uf/uf_core.h"

namespace {

using namespace vornex;

void require(bool condition) {
    if (!condition) std::abort();
}

// Qubit c < n_checks opens check c, so no check is empty; every qubit then
// takes at most two slots in all, so the code is always accepted.
CheckList random_code(fuzz::Input& in, uint32_t n_checks, uint32_t n_qubits) {
    CheckList checks(n_checks);
    for (uint32_t q = 0; q < n_qubits; ++q) {
        uint32_t slots = in.below(3);
        if (q < n_checks) {
            checks[q].push_back(q);
            slots = slots ? 1 : 0;
        }
        for (uint32_t s = 0; s < slots; ++s) checks[in.below(n_checks)].push_back(q);
    }
    for (auto& check : checks)
        for (size_t i = check.size(); i > 1; --i) std::swap(check[i - 1], check[in.below(static_cast<uint32_t>(i))]);
    return checks;
}

uint32_t find_root(std::vector<uint32_t>& parent, uint32_t x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
}

bool correctable(const CheckGraph& graph, const std::vector<uint8_t>& syndrome) {
    std::vector<uint32_t> parent(graph.n_nodes);
    std::iota(parent.begin(), parent.end(), 0u);
    for (const auto& e : graph.edges) parent[find_root(parent, e.a)] = find_root(parent, e.b);
    std::vector<uint8_t> odd(graph.n_nodes, 0);
    for (size_t c = 0; c < graph.n_checks; ++c) odd[find_root(parent, static_cast<uint32_t>(c))] ^= syndrome[c] & 1;
    const uint32_t boundary_root = find_root(parent, static_cast<uint32_t>(graph.n_checks));
    for (uint32_t n = 0; n < graph.n_nodes; ++n)
        if (n != boundary_root && parent[n] == n && odd[n]) return false;
    return true;
}

bool reproduces(const CheckList& checks, const std::vector<uint8_t>& syndrome, const std::vector<uint8_t>& correction) {
    for (size_t c = 0; c < checks.size(); ++c) {
        uint8_t parity = 0;
        for (uint32_t q : checks[c]) parity ^= correction[q];
        if (parity != (syndrome[c] & 1)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const uint32_t n_checks = 1 + in.below(40);
    const uint32_t n_qubits = n_checks + in.below(40);
    CheckList checks = random_code(in, n_checks, n_qubits);
    auto graph = build_check_graph(checks, in.byte() & 1 ? std::optional<size_t>(n_qubits + 3) : std::nullopt);
    require(graph.ok());
    const CheckGraph& g = graph.value();

    static UfWorkspace shared;  // grown by earlier, differently sized inputs
    for (int shot = 0; shot < 4; ++shot) {
        std::vector<uint8_t> syndrome(g.n_checks);
        for (auto& byte : syndrome) byte = in.byte() & 3;
        const std::vector<uint8_t> fresh = decode(g, syndrome);
        std::vector<uint8_t> reused(g.n_qubits, 0xAA);
        decode_into(g, syndrome, shared, reused);
        require(fresh == reused);
        require(fresh.size() == g.n_qubits);
        std::vector<uint8_t> used(g.n_qubits, 0);
        for (const auto& e : g.edges) used[e.q] = 1;
        for (size_t q = 0; q < fresh.size(); ++q) require(fresh[q] <= 1 && (used[q] || fresh[q] == 0));
        if (correctable(g, syndrome)) require(reproduces(checks, syndrome, fresh));
    }
    return 0;
}
