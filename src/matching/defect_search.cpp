#include "matching/defect_search.h"

namespace vornex {

void SearchWorkspace::prepare(size_t n_nodes) {
    if (dist.size() < n_nodes) {
        dist.resize(n_nodes, kUnreachable);
        parent.resize(n_nodes, kNoIndex);
        parent_qubit.resize(n_nodes, kNoIndex);
        visited.resize(n_nodes, 0);
    }
}

void SearchWorkspace::touch(uint32_t node, double d, uint32_t from, uint32_t qubit) {
    // A node relaxed twice is listed twice; resetting it twice is harmless.
    if (dist[node] == kUnreachable) touched.push_back(node);
    dist[node] = d;
    parent[node] = from;
    parent_qubit[node] = qubit;
}

void SearchWorkspace::reset() {
    for (uint32_t n : touched) {
        dist[n] = kUnreachable;
        parent[n] = kNoIndex;
        parent_qubit[n] = kNoIndex;
        visited[n] = 0;
    }
    touched.clear();
    queue.clear();
    heap.clear();
}

}  // namespace vornex
