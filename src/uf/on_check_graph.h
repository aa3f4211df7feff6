// What the Union-Find families that decode on one check graph share: the
// graph, its sizes, and construction from a check list, whose refusal is the
// check-graph text unchanged. Each family derives from OnCheckGraph<itself>.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>

#include "base/result.h"
#include "code/check_graph.h"

namespace vornex {

template <class Derived>
class OnCheckGraph {
public:
    // The family whose objects the inherited accessors read (the binding
    // layer resolves an inherited getter to it).
    using Family = Derived;

    static Result<Derived> create(CheckList check_to_qubits, std::optional<size_t> n_qubits) {
        auto graph = build_check_graph(std::move(check_to_qubits), n_qubits);
        if (!graph) return graph.error();
        return Derived(std::move(graph).value());
    }

    explicit OnCheckGraph(CheckGraph graph) : graph_(std::move(graph)) {}

    const CheckGraph& graph() const { return graph_; }
    size_t n_qubits() const { return graph_.n_qubits; }
    size_t n_checks() const { return graph_.n_checks; }

protected:
    CheckGraph graph_;
};

}  // namespace vornex
