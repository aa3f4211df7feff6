// Single-source shortest-path searches over the matching decoder's check
// graph, stopping whenever the caller has seen enough.
//
// Breadth-first search counts hops and serves uniform weights; Dijkstra
// (binary heap on distances) serves the rest. Both settle each node once and
// never re-parent a settled node, so parent links always form a tree, even
// for weights a caller made negative.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "code/check_graph.h"
#include "matching/blossom.h"

namespace vornex {

inline constexpr double kPathEpsilon = 1e-12;
inline constexpr double kUnreachable = std::numeric_limits<double>::infinity();

// Scratch of one search. Untouched nodes hold dist = +inf, no parent and
// visited = 0; after a search only the touched nodes are put back.
struct SearchWorkspace {
    std::vector<double> dist;
    std::vector<uint32_t> parent;
    std::vector<uint32_t> parent_qubit;
    std::vector<uint8_t> visited;
    std::vector<uint32_t> touched;
    std::vector<uint32_t> queue;
    std::vector<std::pair<double, uint32_t>> heap;

    void prepare(size_t n_nodes);
    void touch(uint32_t node, double d, uint32_t from, uint32_t qubit);
    void reset();
};

// Runs the search from `source`. settle(node) is called for every node in
// the order it is reached (dequeued, or popped from the heap); returning
// true stops the search. The workspace keeps distances and parent links
// until reset() so the caller can walk paths.
template <class Settle>
void search_from(const BlossomGraph& graph, uint32_t source, SearchWorkspace& ws, Settle&& settle);

template <class Settle>
void search_from(const BlossomGraph& graph, uint32_t source, SearchWorkspace& ws, Settle&& settle) {
    ws.prepare(graph.n_checks + 1);
    ws.touch(source, 0.0, kNoIndex, kNoIndex);
    if (graph.uniform_weights) {
        ws.queue.push_back(source);
        for (size_t head = 0; head < ws.queue.size(); ++head) {
            const uint32_t u = ws.queue[head];
            if (settle(u)) return;
            const double next = ws.dist[u] + 1.0;
            for (const BlossomArc& a : graph.arcs_of(u)) {
                if (ws.dist[a.node] == kUnreachable) {
                    ws.touch(a.node, next, u, a.qubit);
                    ws.queue.push_back(a.node);
                }
            }
        }
        return;
    }
    const auto later = [](const std::pair<double, uint32_t>& x, const std::pair<double, uint32_t>& y) {
        return x.first > y.first;
    };
    ws.heap.emplace_back(0.0, source);
    while (!ws.heap.empty()) {
        std::pop_heap(ws.heap.begin(), ws.heap.end(), later);
        const auto [d, u] = ws.heap.back();
        ws.heap.pop_back();
        if (ws.visited[u]) continue;
        ws.visited[u] = 1;
        if (settle(u)) return;
        for (const BlossomArc& a : graph.arcs_of(u)) {
            if (ws.visited[a.node]) continue;
            const double nd = d + a.weight;
            if (ws.dist[a.node] - kPathEpsilon > nd) {
                ws.touch(a.node, nd, u, a.qubit);
                ws.heap.emplace_back(nd, a.node);
                std::push_heap(ws.heap.begin(), ws.heap.end(), later);
            }
        }
    }
}

}  // namespace vornex
