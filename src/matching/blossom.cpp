#include "matching/blossom.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <tuple>

#include "base/shape.h"
#include "base/thread_scratch.h"
#include "base/worker_pool.h"
#include "dem/model_budget.h"
#include "matching/defect_search.h"
#include "matching/dense/mwpm.h"
#include "uf/uf_core.h"

namespace vornex {
namespace {

constexpr double kWeightScale = 65536.0;
constexpr double kUniformTolerance = 1e-12;
constexpr size_t kParallelDefects = 40;
// Up to this many defects the defect graph's edges are merged in a table.
constexpr size_t kDenseDefects = 256;

const char* const kLengthPanic = "La longueur du syndrome doit correspondre au nombre de checks";

// ---------------------------------------------------------------- build

size_t resolve_n_qubits(const CheckList& checks, std::optional<size_t> n_qubits) {
    if (n_qubits) return *n_qubits;
    bool any = false;
    uint32_t top = 0;
    for (const auto& check : checks) {
        for (uint32_t q : check) {
            top = std::max(top, q);
            any = true;
        }
    }
    return any ? size_t{top} + 1 : 1;
}

// Check lists per qubit in compressed rows: checks in order, a check listed
// again for every repeat of the qubit inside it.
struct QubitChecks {
    std::vector<size_t> begin;
    std::vector<uint32_t> checks;

    QubitChecks(const CheckList& check_to_qubits, size_t n_qubits) : begin(n_qubits + 1, 0) {
        for (const auto& check : check_to_qubits)
            for (uint32_t q : check)
                if (q < n_qubits) ++begin[q + 1];
        for (size_t q = 0; q < n_qubits; ++q) begin[q + 1] += begin[q];
        checks.resize(begin[n_qubits]);
        std::vector<size_t> fill(begin.begin(), begin.end() - 1);
        for (size_t c = 0; c < check_to_qubits.size(); ++c)
            for (uint32_t q : check_to_qubits[c])
                if (q < n_qubits) checks[fill[q]++] = static_cast<uint32_t>(c);
    }
    std::span<const uint32_t> of(size_t q) const { return {checks.data() + begin[q], checks.data() + begin[q + 1]}; }
};

void build_adjacency(BlossomGraph& g, const QubitChecks& qc) {
    const size_t n_nodes = g.n_checks + 1;
    std::vector<std::vector<BlossomArc>> runs(n_nodes);
    std::vector<double> boundary_weight(g.n_checks, kUnreachable);
    std::vector<uint32_t> boundary_qubit(g.n_checks, kNoIndex);
    for (size_t j = 0; j < g.n_qubits; ++j) {
        const auto list = qc.of(j);
        const uint32_t q = static_cast<uint32_t>(j);
        const double w = g.weights[j];
        if (list.size() == 1) {
            const uint32_t c = list[0];
            if (w < boundary_weight[c]) {
                boundary_weight[c] = w;
                boundary_qubit[c] = q;
            }
            continue;
        }
        for (size_t i = 0; i < list.size(); ++i) {
            for (size_t k = i + 1; k < list.size(); ++k) {
                runs[list[i]].push_back({list[k], q, w});
                runs[list[k]].push_back({list[i], q, w});
                g.edges.emplace_back(list[i], list[k]);
            }
        }
    }
    const uint32_t boundary = g.boundary_node();
    for (uint32_t c = 0; c < g.n_checks; ++c) {
        if (boundary_weight[c] == kUnreachable) continue;
        runs[c].push_back({boundary, boundary_qubit[c], boundary_weight[c]});
        runs[boundary].push_back({c, boundary_qubit[c], boundary_weight[c]});
        g.has_boundary = true;
    }
    g.arc_begin.assign(n_nodes + 1, 0);
    for (size_t n = 0; n < n_nodes; ++n) g.arc_begin[n + 1] = g.arc_begin[n] + static_cast<uint32_t>(runs[n].size());
    g.arcs.reserve(g.arc_begin[n_nodes]);
    for (const auto& run : runs) g.arcs.insert(g.arcs.end(), run.begin(), run.end());
}

bool weights_uniform(const BlossomGraph& g, const QubitChecks& qc) {
    bool have_first = false;
    double first = 0.0;
    for (size_t q = 0; q < g.n_qubits; ++q) {
        if (qc.of(q).empty()) continue;
        if (!have_first) {
            first = g.weights[q];
            have_first = true;
        } else if (std::abs(g.weights[q] - first) > kUniformTolerance) {
            return false;
        }
    }
    return true;
}

void build_boundary_tree(BlossomGraph& g) {
    const size_t n_nodes = g.n_checks + 1;
    g.boundary_dist.assign(n_nodes, kUnreachable);
    g.boundary_parent.assign(n_nodes, kNoIndex);
    g.boundary_parent_qubit.assign(n_nodes, kNoIndex);
    if (!g.has_boundary) return;
    SearchWorkspace ws;
    search_from(g, g.boundary_node(), ws, [](uint32_t) { return false; });
    for (uint32_t n : ws.touched) {
        g.boundary_dist[n] = ws.dist[n];
        g.boundary_parent[n] = ws.parent[n];
        g.boundary_parent_qubit[n] = ws.parent_qubit[n];
    }
}

void build_source_trees(BlossomGraph& g, size_t tree_limit) {
    const size_t n_nodes = g.n_checks + 1;
    if (g.n_checks == 0 || g.n_checks > tree_limit / n_nodes) return;
    SourceTrees t;
    t.n_nodes = n_nodes;
    t.rank.assign(g.n_checks * n_nodes, kNoIndex);
    t.dist.assign(g.n_checks * n_nodes, kUnreachable);
    t.parent.assign(g.n_checks * n_nodes, kNoIndex);
    t.parent_qubit.assign(g.n_checks * n_nodes, kNoIndex);
    SearchWorkspace ws;
    for (uint32_t s = 0; s < g.n_checks; ++s) {
        const size_t row = size_t{s} * n_nodes;
        uint32_t next = 0;
        search_from(g, s, ws, [&](uint32_t u) {
            t.rank[row + u] = next++;
            return false;
        });
        for (uint32_t n : ws.touched) {
            t.dist[row + n] = ws.dist[n];
            t.parent[row + n] = ws.parent[n];
            t.parent_qubit[row + n] = ws.parent_qubit[n];
        }
        ws.reset();
    }
    g.trees = std::move(t);
}

// ---------------------------------------------------------------- decode

// A defect one search reached, and how far it was. The path is not kept:
// only matched pairs need one, and it is walked again then (trees) or
// found again (flip_searched_path).
struct Neighbour {
    uint32_t defect;
    double distance;
};

// A worker's workspace for the parallel neighbour searches, kept between
// decodes so that a range does not build and clear a graph-size one.
struct RangeSearchScratch {
    bool busy = false;
    SearchWorkspace search;
};

// Puts a search workspace back to untouched however the scope ends, so a
// failed step never leaves stale distances for the thread's next decode.
struct SearchReset {
    SearchWorkspace& ws;
    ~SearchReset() { ws.reset(); }
};

// Scratch of one decode on one thread; every buffer only grows.
struct BlossomScratch {
    bool busy = false;
    std::vector<uint32_t> defects;
    std::vector<int32_t> defect_of_node;  // -1 everywhere outside a decode
    std::vector<double> bdist;
    std::vector<Neighbour> found;  // kk slots per defect
    std::vector<uint32_t> found_count;
    std::vector<std::pair<uint32_t, uint32_t>> ranked;
    std::vector<MatchingEdge> edges;
    std::vector<uint32_t> pair_slot;  // D x D, edge index per defect pair
    std::vector<int64_t> partner;
    SearchWorkspace search;
};

int64_t scale_weight(double w) {
    const double x = std::round(w * kWeightScale);
    if (std::isnan(x)) return 0;
    if (x >= 9223372036854775807.0) return INT64_MAX;
    if (x <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(x);
}

class Decode {
public:
    Decode(const BlossomGraph& g, std::span<const uint8_t> syndrome, std::span<uint8_t> correction, BlossomScratch& s)
        : g_(g), syndrome_(syndrome), out_(correction), s_(s) {}

    void run() {
        std::fill(out_.begin(), out_.end(), 0);
        s_.defects.clear();
        for (size_t c = 0; c < g_.n_checks; ++c)
            if (syndrome_[c] == 1) s_.defects.push_back(static_cast<uint32_t>(c));
        d_ = s_.defects.size();
        if (d_ == 0) return;
        kk_ = blossom_neighbour_count(g_, d_);
        {
            DefectMarks marks(*this);
            boundary_distances();
            // With trees and every defect searching all others, the defect
            // graph is complete and read straight from the trees.
            all_pairs_ = g_.trees.has_value() && kk_ + 1 >= d_;
            if (all_pairs_) {
                all_pair_edges();
            } else {
                find_neighbours();
                neighbour_edges();
            }
            match();
        }
        if (correction_satisfies(g_.check_to_qubits, g_.n_qubits, syndrome_, out_)) return;
        fall_back();
    }

private:
    const BlossomGraph& g_;
    std::span<const uint8_t> syndrome_;
    std::span<uint8_t> out_;
    BlossomScratch& s_;
    size_t d_ = 0;
    size_t kk_ = 0;
    bool boundary_reachable_ = false;
    bool all_pairs_ = false;

    // Keeps defect_of_node all -1 between decodes, even if a step throws.
    struct DefectMarks {
        Decode& d;
        explicit DefectMarks(Decode& owner) : d(owner) { d.mark_defects(true); }
        ~DefectMarks() { d.mark_defects(false); }
    };

    void mark_defects(bool on) {
        const size_t n_nodes = g_.n_checks + 1;
        if (s_.defect_of_node.size() < n_nodes) s_.defect_of_node.resize(n_nodes, -1);
        for (size_t i = 0; i < d_; ++i) s_.defect_of_node[s_.defects[i]] = on ? static_cast<int32_t>(i) : -1;
    }

    void boundary_distances() {
        s_.bdist.resize(d_);
        boundary_reachable_ = false;
        for (size_t i = 0; i < d_; ++i) {
            s_.bdist[i] = g_.boundary_dist[s_.defects[i]];
            if (std::isfinite(s_.bdist[i])) boundary_reachable_ = true;
        }
    }

    void find_neighbours() {
        s_.found.resize(d_ * kk_);
        s_.found_count.assign(d_, 0);
        if (d_ == 1) return;  // nobody to find
        if (d_ <= kParallelDefects) {
            for (size_t i = 0; i < d_; ++i) neighbours_of(i, s_.search);
            return;
        }
        // Isolated so that a waiting worker only picks up these searches, never
        // another batch row that would reuse this thread's scratch.
        tbb::this_task_arena::isolate([&] {
            parallel_for_ranges(d_, [&](size_t begin, size_t end) {
                ScratchLease<RangeSearchScratch> lease;
                for (size_t i = begin; i < end; ++i) neighbours_of(i, lease.get().search);
            });
        });
    }

    void neighbours_of(size_t i, SearchWorkspace& ws) {
        if (g_.trees) {
            neighbours_from_tree(i);
        } else {
            neighbours_by_search(i, ws);
        }
    }

    // The first kk defects in the order a full search from i reaches them:
    // exactly what the truncated search would record.
    void neighbours_from_tree(size_t i) {
        const SourceTrees& t = *g_.trees;
        const size_t row = size_t{s_.defects[i]} * t.n_nodes;
        std::vector<std::pair<uint32_t, uint32_t>> local;
        auto& ranked = d_ > kParallelDefects ? local : s_.ranked;
        ranked.clear();
        for (size_t j = 0; j < d_; ++j) {
            const uint32_t r = t.rank[row + s_.defects[j]];
            if (j != i && r != kNoIndex) ranked.emplace_back(r, static_cast<uint32_t>(j));
        }
        // Which kk are nearest matters, not their order.
        const size_t take = std::min(kk_, ranked.size());
        if (take < ranked.size())
            std::nth_element(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(take), ranked.end());
        Neighbour* slots = &s_.found[i * kk_];
        for (size_t k = 0; k < take; ++k) {
            const uint32_t j = ranked[k].second;
            slots[k] = {j, t.dist[row + s_.defects[j]]};
        }
        s_.found_count[i] = static_cast<uint32_t>(take);
    }

    void neighbours_by_search(size_t i, SearchWorkspace& ws) {
        const uint32_t source = s_.defects[i];
        Neighbour* slots = &s_.found[i * kk_];
        uint32_t count = 0;
        SearchReset reset{ws};
        search_from(g_, source, ws, [&](uint32_t u) {
            const int32_t j = s_.defect_of_node[u];
            if (j < 0 || static_cast<size_t>(j) == i) return false;
            slots[count++] = {static_cast<uint32_t>(j), ws.dist[u]};
            return count == kk_;
        });
        s_.found_count[i] = count;
    }

    bool boundary_pair(size_t i, size_t j) const {
        return boundary_reachable_ && std::isfinite(s_.bdist[i]) && std::isfinite(s_.bdist[j]);
    }

    // Distance from defect i to defect j along i's tree, +inf if unreachable.
    double tree_distance(size_t i, size_t j) const {
        const SourceTrees& t = *g_.trees;
        return t.dist[size_t{s_.defects[i]} * t.n_nodes + s_.defects[j]];
    }

    double pair_weight(size_t i, size_t j, double distance) const {
        return boundary_pair(i, j) ? std::min(distance, s_.bdist[i] + s_.bdist[j]) : distance;
    }

    // Every pair once, in (i, j) order: the same lightest edges the
    // neighbour lists would give after sorting, without the sort.
    void all_pair_edges() {
        auto& edges = s_.edges;
        edges.clear();
        for (size_t i = 0; i < d_; ++i) {
            for (size_t j = i + 1; j < d_; ++j) {
                const double dij = tree_distance(i, j);
                if (dij == kUnreachable) continue;
                const double w = std::min(pair_weight(i, j, dij), pair_weight(j, i, tree_distance(j, i)));
                edges.push_back({i, j, scale_weight(w)});
            }
        }
        add_virtual_edges();
    }

    void add_virtual_edges() {
        if (d_ % 2 == 1 && boundary_reachable_) {
            for (size_t i = 0; i < d_; ++i)
                if (std::isfinite(s_.bdist[i])) s_.edges.push_back({i, d_, scale_weight(s_.bdist[i])});
        }
    }

    void neighbour_edges() {
        auto& edges = s_.edges;
        edges.clear();
        for (size_t i = 0; i < d_; ++i) {
            for (size_t k = 0; k < s_.found_count[i]; ++k) {
                const Neighbour& nb = s_.found[i * kk_ + k];
                const size_t j = nb.defect;
                edges.push_back({std::min<uint64_t>(i, j), std::max<uint64_t>(i, j),
                                 scale_weight(pair_weight(i, j, nb.distance))});
            }
        }
        if (d_ <= kDenseDefects) {
            keep_lightest_dense();
        } else {
            keep_lightest_sorted();
        }
        add_virtual_edges();
    }

    // The lightest edge per defect pair through a D x D table: cheaper than
    // sorting the neighbour lists while D is small.
    void keep_lightest_dense() {
        auto& edges = s_.edges;
        auto& slot = s_.pair_slot;
        slot.assign(d_ * d_, kNoIndex);
        size_t kept = 0;
        for (const MatchingEdge& e : edges) {
            uint32_t& at = slot[e.u * d_ + e.v];
            if (at == kNoIndex) {
                at = static_cast<uint32_t>(kept);
                edges[kept++] = e;
            } else if (e.weight < edges[at].weight) {
                edges[at].weight = e.weight;
            }
        }
        edges.resize(kept);
    }

    void keep_lightest_sorted() {
        auto& edges = s_.edges;
        std::sort(edges.begin(), edges.end(), [](const MatchingEdge& a, const MatchingEdge& b) {
            return std::tie(a.u, a.v, a.weight) < std::tie(b.u, b.v, b.weight);
        });
        edges.erase(std::unique(edges.begin(), edges.end(),
                                [](const MatchingEdge& a, const MatchingEdge& b) { return a.u == b.u && a.v == b.v; }),
                    edges.end());
    }

    void match() {
        const size_t m = d_ + d_ % 2;
        s_.partner.assign(m, -1);
        mwpm_match_into(m, s_.edges, s_.partner);
        for (size_t i = 0; i < m; ++i) {
            const int64_t p = s_.partner[i];
            if (p <= static_cast<int64_t>(i)) continue;
            const size_t j = static_cast<size_t>(p);
            if (j == d_) {
                flip_to_boundary(i);
            } else {
                flip_pair(i, j);
            }
        }
    }

    void flip(uint32_t q) {
        if (q < g_.n_qubits) out_[q] ^= 1;
    }

    void flip_to_boundary(size_t i) {
        const uint32_t boundary = g_.boundary_node();
        for (uint32_t x = s_.defects[i]; x != boundary && x != kNoIndex; x = g_.boundary_parent[x])
            flip(g_.boundary_parent_qubit[x]);
    }

    const Neighbour* record_of(size_t i, size_t j) const {
        for (size_t k = 0; k < s_.found_count[i]; ++k)
            if (s_.found[i * kk_ + k].defect == j) return &s_.found[i * kk_ + k];
        return nullptr;
    }

    void flip_pair(size_t i, size_t j) {
        if (all_pairs_) {
            const double distance = tree_distance(i, j);
            if (boundary_pair(i, j) && s_.bdist[i] + s_.bdist[j] < distance) {
                flip_to_boundary(i);
                flip_to_boundary(j);
            } else if (distance != kUnreachable) {
                flip_tree_path(i, j);
            }
            return;
        }
        size_t source = i;
        const Neighbour* nb = record_of(i, j);
        if (!nb) {
            nb = record_of(j, i);
            source = j;
        }
        const double distance = nb ? nb->distance : kUnreachable;
        if (boundary_pair(i, j) && s_.bdist[i] + s_.bdist[j] < distance) {
            flip_to_boundary(i);
            flip_to_boundary(j);
        } else if (nb && g_.trees) {
            flip_tree_path(source, nb->defect);
        } else if (nb) {
            flip_searched_path(source, nb->defect);
        }
    }

    // Runs source's search again until it settles target and flips the
    // parent walk back. A search settles nodes in the same order every time
    // and never re-parents a settled node, so this is the very path the
    // neighbour search had when it met target; finding it again for matched
    // pairs only keeps memory to one graph-size workspace per thread
    // instead of every neighbour's path of every defect.
    void flip_searched_path(size_t source, size_t target) {
        const uint32_t src = s_.defects[source];
        const uint32_t dst = s_.defects[target];
        SearchWorkspace& ws = s_.search;
        SearchReset reset{ws};
        search_from(g_, src, ws, [&](uint32_t u) { return u == dst; });
        for (uint32_t x = dst; x != src && x != kNoIndex; x = ws.parent[x]) flip(ws.parent_qubit[x]);
    }

    void flip_tree_path(size_t source, size_t target) {
        const SourceTrees& t = *g_.trees;
        const uint32_t src = s_.defects[source];
        const size_t row = size_t{src} * t.n_nodes;
        for (uint32_t x = s_.defects[target]; x != src && x != kNoIndex; x = t.parent[row + x])
            flip(t.parent_qubit[row + x]);
    }

    void fall_back() {
        if (g_.uf_fallback) {
            const std::vector<uint8_t> uf = decode(*g_.uf_fallback, syndrome_);
            if (correction_satisfies(g_.check_to_qubits, g_.n_qubits, syndrome_, uf)) {
                std::copy(uf.begin(), uf.end(), out_.begin());
                return;
            }
        }
        // An inconsistent system has no correction at all; the matching
        // result then stands as the best effort.
        if (auto x = solve_gf2(g_.check_to_qubits, g_.n_qubits, syndrome_)) std::copy(x->begin(), x->end(), out_.begin());
    }
};

bool parse_positive(const char* text, double& out) {
    if (!text || !*text || std::isspace(static_cast<unsigned char>(*text))) return false;
    if (std::strpbrk(text, "xX")) return false;  // no hexadecimal forms
    char* end = nullptr;
    const double x = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(x > 0.0)) return false;
    out = x;
    return true;
}

}  // namespace

double blossom_k_mult_from_env() {
    double k = 2.0;
    parse_positive(std::getenv("VORNEX_BLOSSOM_K_MULT"), k);
    return k;
}

BlossomGraph build_blossom_graph(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                 std::optional<std::vector<double>> edge_weights, size_t tree_limit) {
    BlossomGraph g;
    g.n_qubits = resolve_n_qubits(check_to_qubits, n_qubits);
    g.n_checks = check_to_qubits.size();
    if (edge_weights) {
        g.weights = std::move(*edge_weights);
        if (g.weights.size() < g.n_qubits) g.weights.resize(g.n_qubits, 1.0);
    } else {
        g.weights.assign(g.n_qubits, 1.0);
    }
    const QubitChecks qc(check_to_qubits, g.n_qubits);
    build_adjacency(g, qc);
    g.uniform_weights = weights_uniform(g, qc);
    g.k_mult = blossom_k_mult_from_env();
    auto uf = build_check_graph(check_to_qubits, g.n_qubits);
    if (uf.ok()) g.uf_fallback = std::move(uf).value();
    g.check_to_qubits = std::move(check_to_qubits);
    build_boundary_tree(g);
    build_source_trees(g, tree_limit);
    return g;
}

size_t blossom_neighbour_count(const BlossomGraph& graph, size_t n_defects) {
    uint64_t k = graph.k_base;
    if (n_defects > kParallelDefects) {
        const double x = std::ceil(std::sqrt(static_cast<double>(n_defects)) * graph.k_mult);
        const uint64_t grown = x >= 18446744073709551615.0 ? UINT64_MAX : static_cast<uint64_t>(x);
        k = std::max<uint64_t>(k, grown);
    }
    const uint64_t others = n_defects == 0 ? 0 : n_defects - 1;
    return static_cast<size_t>(std::max<uint64_t>(1, std::min<uint64_t>(others, k)));
}

Status blossom_decode_into(const BlossomGraph& graph, std::span<const uint8_t> syndrome,
                           std::span<uint8_t> correction) {
    if (syndrome.size() != graph.n_checks || correction.size() != graph.n_qubits) return panic_error(kLengthPanic);
    ScratchLease<BlossomScratch> lease;
    Decode(graph, syndrome, correction, lease.get()).run();
    return ok_status();
}

Result<std::vector<uint8_t>> blossom_decode(const BlossomGraph& graph, std::span<const uint8_t> syndrome) {
    std::vector<uint8_t> correction(graph.n_qubits, 0);
    if (auto st = blossom_decode_into(graph, syndrome, correction); !st) return st.error();
    return correction;
}

void blossom_decode_batch(const BlossomGraph& graph, const uint8_t* syndromes, size_t n_shots, uint8_t* corrections) {
    const size_t nc = graph.n_checks;
    const size_t nq = graph.n_qubits;
    parallel_for(n_shots, [&](size_t row) {
        (void)blossom_decode_into(graph, {syndromes + row * nc, nc}, {corrections + row * nq, nq});
    });
}

Status BlossomDecoder::check_syndrome_length(size_t length) const {
    if (length == graph_.n_checks) return ok_status();
    return value_error("Longueur du syndrome (" + std::to_string(length) + ") ne correspond pas à n_checks (" +
                       std::to_string(graph_.n_checks) + ")");
}

Status BlossomDecoder::check_batch_shape(std::span<const size_t> shape) const {
    if (shape.size() == 2 && shape[1] == graph_.n_checks) return ok_status();
    return value_error("Forme attendue (batch, " + std::to_string(graph_.n_checks) + "), obtenue " +
                       shape_text(shape));
}

std::vector<uint8_t> BlossomDecoder::batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, graph_.n_qubits), 0);
    // With no qubits every row is empty; there is nothing to decode.
    if (!out.empty()) blossom_decode_batch(graph_, syndromes.data(), n_shots, out.data());
    return out;
}

Result<BlossomDecoder> BlossomDecoder::from_model(const DetectorErrorModel& model) {
    if (auto fits = check_model_footprint(model, {"a blossom decoder", 232}); !fits) return fits.error();
    auto code = dem_code_from_model(model, "BlossomDecoder");
    if (!code) return code.error();
    DemCode& c = code.value();
    Result<BlossomDecoder> decoder(
        BlossomDecoder(build_blossom_graph(std::move(c.check_to_qubits), c.n_qubits, std::move(c.weights))));
    decoder.value().model_ = std::move(c.observables);
    return decoder;
}

}  // namespace vornex
