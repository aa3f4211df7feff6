#include "matching/dense/mwpm.h"

#include <algorithm>
#include <limits>

#include "base/thread_scratch.h"

namespace vornex {
namespace {

// Best known edge between two vertex-or-blossom ids; w == 0 means none.
// Endpoints are always real vertices, so an edge record stays meaningful
// after either side is folded into a blossom.
struct DenseEdge {
    uint32_t u;
    uint32_t v;
    int64_t w;
};

constexpr int64_t kInf = 0x1FFFFFFFFFFFFFFF;
constexpr size_t kInsertionSortLimit = 20;

// Scratch of one matching. Ids 1..n are vertices, n+1..2n blossoms, 0 is
// "none". Every buffer only grows; each call re-initialises what it reads, so
// the dense matrix is reused across the many small matchings of a batch.
class MatchingWorkspace {
public:
    bool busy = false;  // held by one call on its thread (see ScratchLease)

    void run(size_t n, std::span<const MatchingEdge> edges, std::span<int64_t> partner) {
        reset(n);
        load(edges);
        while (phase()) {
        }
        for (size_t i = 0; i < n; ++i) partner[i] = static_cast<int64_t>(match_[i + 1]) - 1;
    }

private:
    // Sizes of the current call, set by reset().
    size_t n_ = 0;       // vertices
    size_t n_x_ = 0;     // highest id in use: n plus blossoms made so far (freed ids are reused)
    size_t stride_ = 0;  // N = 2n + 1, the row length of g_
    // N x N edge records between ids; a blossom's row holds its best edge
    // to every other id. Vertex rows are rewritten by reset() and load(),
    // a blossom's row when the blossom is made.
    std::vector<DenseEdge> g_;
    // Per id, valid for the whole call (reset() clears the first N):
    std::vector<int64_t> lab_;          // dual: a vertex's label or a blossom's z, against weights counted twice
    std::vector<uint32_t> match_;       // vertex at the far end of the id's matched edge, 0 when exposed
    std::vector<uint32_t> slack_;       // outer id with the least slack edge to this id, 0 when none;
                                        // stale after a blossom changes until recomputed from its members
    std::vector<uint32_t> st_;          // outermost blossom containing the id (itself at top level);
                                        // 0 for a freed blossom id
    std::vector<uint32_t> pa_;          // inner id's tree parent in the current search (a vertex)
    std::vector<uint32_t> flower_from_;  // N rows of n + 1: child of blossom b containing vertex x
    std::vector<int8_t> s_;              // search label: -1 free, 0 outer, 1 inner; reset per phase
    std::vector<uint32_t> vis_;          // stamp of the last lowest-common-ancestor walk that passed here
    uint32_t stamp_ = 0;                 // current walk's stamp; vis_ entries below it are stale
    std::vector<std::vector<uint32_t>> flower_;  // per blossom: its children around the cycle, base first
    std::vector<std::vector<uint32_t>> adj_;     // per id: ids with an edge record of positive weight
    // Outer vertices waiting to be scanned in the current phase;
    // entries before queue_head_ are done.
    std::vector<uint32_t> queue_;
    size_t queue_head_ = 0;

    DenseEdge& g(size_t x, size_t y) { return g_[x * stride_ + y]; }
    uint32_t& from(size_t b, size_t x) { return flower_from_[b * (n_ + 1) + x]; }

    int64_t e_delta(const DenseEdge& e) { return lab_[e.u] + lab_[e.v] - g(e.u, e.v).w * 2; }

    template <class T>
    static void grow(std::vector<T>& v, size_t size) {
        if (v.size() < size) v.resize(size);
    }

    void reset(size_t n) {
        n_ = n;
        n_x_ = n;
        stride_ = 2 * n + 1;
        const size_t ids = stride_;
        grow(g_, ids * ids);
        grow(flower_from_, ids * (n + 1));
        grow(lab_, ids);
        grow(match_, ids);
        grow(slack_, ids);
        grow(st_, ids);
        grow(pa_, ids);
        grow(s_, ids);
        grow(vis_, ids);
        grow(flower_, ids);
        grow(adj_, ids);
        std::fill_n(lab_.begin(), ids, 0);
        std::fill_n(match_.begin(), ids, 0);
        std::fill_n(slack_.begin(), ids, 0);
        std::fill_n(pa_.begin(), ids, 0);
        std::fill_n(s_.begin(), ids, 0);
        std::fill_n(vis_.begin(), ids, 0);
        // S[0] stands for the owner of a freed blossom id (st == 0); it must
        // never look outer, or stale ids would feed the slack computation.
        s_[0] = -1;
        stamp_ = 0;
        for (size_t x = 0; x < ids; ++x) {
            st_[x] = static_cast<uint32_t>(x);
            flower_[x].clear();
            adj_[x].clear();
        }
        for (size_t x = 1; x <= n; ++x) {
            for (size_t y = 1; y <= n; ++y) g(x, y) = {static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0};
            uint32_t* row = &from(x, 0);
            std::fill_n(row, n + 1, 0);
            row[x] = static_cast<uint32_t>(x);
        }
        queue_.clear();
        queue_head_ = 0;
    }

    void load(std::span<const MatchingEdge> edges) {
        int64_t top = 0;
        for (const MatchingEdge& e : edges) top = std::max(top, clamp_weight(e.weight));
        const int64_t c = top + 1;
        int64_t w_max = 0;
        for (const MatchingEdge& e : edges) {
            if (e.u >= n_ || e.v >= n_ || e.u == e.v) continue;
            const int64_t w = c - clamp_weight(e.weight);
            if (w < 1) continue;
            const uint32_t u = static_cast<uint32_t>(e.u + 1);
            const uint32_t v = static_cast<uint32_t>(e.v + 1);
            g(u, v).w = w;
            g(v, u).w = w;
            adj_[u].push_back(v);
            adj_[v].push_back(u);
            w_max = std::max(w_max, w);
        }
        for (size_t x = 1; x <= n_; ++x) sort_unique(adj_[x]);
        for (size_t x = 1; x <= n_; ++x) lab_[x] = w_max;
    }

    static int64_t clamp_weight(int64_t w) { return std::clamp(w, -kMatchingWeightLimit, kMatchingWeightLimit); }

    static void sort_unique(std::vector<uint32_t>& list) {
        if (list.size() <= kInsertionSortLimit) {
            for (size_t i = 1; i < list.size(); ++i) {
                const uint32_t key = list[i];
                size_t j = i;
                for (; j > 0 && list[j - 1] > key; --j) list[j] = list[j - 1];
                list[j] = key;
            }
        } else {
            std::sort(list.begin(), list.end());
        }
        list.erase(std::unique(list.begin(), list.end()), list.end());
    }

    // FIFO of real vertices; pushing a blossom pushes its vertices.
    void q_push(uint32_t x) {
        if (x <= n_) {
            queue_.push_back(x);
            return;
        }
        for (uint32_t y : flower_[x]) q_push(y);
    }

    void q_clear() {
        queue_.clear();
        queue_head_ = 0;
    }

    void update_slack(uint32_t u, uint32_t x) {
        if (slack_[x] == 0 || e_delta(g(u, x)) < e_delta(g(slack_[x], x))) slack_[x] = u;
    }

    void set_slack(uint32_t x) {
        slack_[x] = 0;
        for (uint32_t w : adj_[x]) {
            if (g(w, x).w > 0 && st_[w] != x && s_[st_[w]] == 0) update_slack(w, x);
        }
    }

    void set_st(uint32_t x, uint32_t b) {
        st_[x] = b;
        if (x > n_) {
            for (uint32_t y : flower_[x]) set_st(y, b);
        }
    }

    // Position of xr in b's cycle, turning the cycle round when that position
    // is odd so that the even-length side leads from the base to xr.
    size_t get_pr(uint32_t b, uint32_t xr) {
        std::vector<uint32_t>& f = flower_[b];
        const size_t pr = static_cast<size_t>(std::find(f.begin(), f.end(), xr) - f.begin());
        if (pr % 2 == 1) {
            std::reverse(f.begin() + 1, f.end());
            return f.size() - pr;
        }
        return pr;
    }

    void set_match(uint32_t u, uint32_t v) {
        match_[u] = g(u, v).v;
        if (u <= n_) return;
        const DenseEdge e = g(u, v);
        const uint32_t xr = from(u, e.u);
        const size_t pr = get_pr(u, xr);
        for (size_t i = 0; i < pr; ++i) set_match(flower_[u][i], flower_[u][i ^ 1]);
        set_match(xr, v);
        std::rotate(flower_[u].begin(), flower_[u].begin() + static_cast<std::ptrdiff_t>(pr), flower_[u].end());
    }

    void augment(uint32_t u, uint32_t v) {
        for (;;) {
            const uint32_t xnv = st_[match_[u]];
            set_match(u, v);
            if (xnv == 0) return;
            set_match(xnv, st_[pa_[xnv]]);
            u = st_[pa_[xnv]];
            v = xnv;
        }
    }

    uint32_t get_lca(uint32_t u, uint32_t v) {
        ++stamp_;
        while (u != 0 || v != 0) {
            if (u != 0) {
                if (vis_[u] == stamp_) return u;
                vis_[u] = stamp_;
                u = st_[match_[u]];
                if (u != 0) u = st_[pa_[u]];
            }
            std::swap(u, v);
        }
        return 0;
    }

    void add_blossom(uint32_t u, uint32_t lca, uint32_t v) {
        uint32_t b = static_cast<uint32_t>(n_ + 1);
        while (b <= n_x_ && st_[b] != 0) ++b;
        if (b > n_x_) ++n_x_;
        lab_[b] = 0;
        s_[b] = 0;
        match_[b] = match_[lca];
        std::vector<uint32_t>& f = flower_[b];
        f.clear();
        f.push_back(lca);
        for (uint32_t x = u, y; x != lca; x = st_[pa_[y]]) {
            f.push_back(x);
            f.push_back(y = st_[match_[x]]);
            q_push(y);
        }
        std::reverse(f.begin() + 1, f.end());
        for (uint32_t x = v, y; x != lca; x = st_[pa_[y]]) {
            f.push_back(x);
            f.push_back(y = st_[match_[x]]);
            q_push(y);
        }
        set_st(b, b);
        // Whole records are cleared (not only w) so that nothing left from an
        // earlier call can point outside this call's ids.
        for (size_t x = 0; x < stride_; ++x) g(b, x) = g(x, b) = DenseEdge{0, 0, 0};
        std::fill_n(&from(b, 0), n_ + 1, 0);
        for (uint32_t xs : f) {
            for (size_t x = 1; x <= n_x_; ++x) {
                // A member without an edge to x never replaces a real edge:
                // comparing against an absent edge's e_delta is meaningless.
                if (g(xs, x).w > 0 && (g(b, x).w == 0 || e_delta(g(xs, x)) < e_delta(g(b, x)))) {
                    g(b, x) = g(xs, x);
                    g(x, b) = g(x, xs);
                }
            }
            for (size_t x = 1; x <= n_; ++x) {
                if (from(xs, x) != 0) from(b, x) = xs;
            }
        }
        adj_[b].clear();
        for (size_t x = 1; x <= n_x_; ++x) {
            if (g(b, x).w > 0) adj_[b].push_back(static_cast<uint32_t>(x));
        }
        set_slack(b);
    }

    void expand_blossom(uint32_t b) {
        for (uint32_t x : flower_[b]) set_st(x, x);
        const uint32_t xr = from(b, g(b, pa_[b]).u);
        const size_t pr = get_pr(b, xr);
        const std::vector<uint32_t>& f = flower_[b];
        for (size_t i = 0; i < pr; i += 2) {
            const uint32_t xs = f[i];
            const uint32_t xns = f[i + 1];
            pa_[xs] = g(xns, xs).u;
            s_[xs] = 1;
            s_[xns] = 0;
            slack_[xs] = 0;
            set_slack(xns);
            q_push(xns);
        }
        s_[xr] = 1;
        pa_[xr] = pa_[b];
        for (size_t i = pr + 1; i < f.size(); ++i) {
            s_[f[i]] = -1;
            set_slack(f[i]);
        }
        st_[b] = 0;
    }

    // Returns true when the edge closed an augmenting path.
    bool on_found_edge(const DenseEdge e) {
        const uint32_t u = st_[e.u];
        const uint32_t v = st_[e.v];
        if (s_[v] == -1) {
            pa_[v] = e.u;
            s_[v] = 1;
            const uint32_t nu = st_[match_[v]];
            slack_[v] = 0;
            slack_[nu] = 0;
            s_[nu] = 0;
            q_push(nu);
        } else if (s_[v] == 0) {
            const uint32_t lca = get_lca(u, v);
            if (lca == 0) {
                augment(u, v);
                augment(v, u);
                return true;
            }
            add_blossom(u, lca, v);
        }
        return false;
    }

    // One augmentation search with dual adjustments; false when the matching
    // can no longer improve.
    bool phase() {
        for (size_t x = 1; x <= n_x_; ++x) {
            s_[x] = -1;
            slack_[x] = 0;
        }
        q_clear();
        for (uint32_t x = 1; x <= n_x_; ++x) {
            if (st_[x] == x && match_[x] == 0) {
                pa_[x] = 0;
                s_[x] = 0;
                q_push(x);
            }
        }
        if (queue_.empty()) return false;
        for (;;) {
            while (queue_head_ < queue_.size()) {
                const uint32_t u = queue_[queue_head_++];
                if (s_[st_[u]] == 1) continue;
                for (uint32_t v : adj_[u]) {
                    if (g(u, v).w <= 0 || st_[u] == st_[v]) continue;
                    if (e_delta(g(u, v)) == 0) {
                        if (on_found_edge(g(u, v))) return true;
                    } else {
                        update_slack(u, st_[v]);
                    }
                }
            }
            int64_t d = kInf;
            for (size_t b = n_ + 1; b <= n_x_; ++b) {
                if (st_[b] == b && s_[b] == 1) d = std::min(d, lab_[b] / 2);
            }
            for (size_t x = 1; x <= n_x_; ++x) {
                if (st_[x] != x || slack_[x] == 0) continue;
                if (s_[x] == -1) {
                    d = std::min(d, e_delta(g(slack_[x], x)));
                } else if (s_[x] == 0) {
                    d = std::min(d, e_delta(g(slack_[x], x)) / 2);
                }
            }
            for (size_t u = 1; u <= n_; ++u) {
                const int8_t s = s_[st_[u]];
                if (s == 0) {
                    if (lab_[u] <= d) return false;
                    lab_[u] -= d;
                } else if (s == 1) {
                    lab_[u] += d;
                }
            }
            for (size_t b = n_ + 1; b <= n_x_; ++b) {
                if (st_[b] != b) continue;
                if (s_[b] == 0) {
                    lab_[b] += 2 * d;
                } else if (s_[b] == 1) {
                    lab_[b] -= 2 * d;
                }
            }
            q_clear();
            for (uint32_t x = 1; x <= n_x_; ++x) {
                if (st_[x] == x && slack_[x] != 0 && st_[slack_[x]] != x && e_delta(g(slack_[x], x)) == 0) {
                    if (on_found_edge(g(slack_[x], x))) return true;
                }
            }
            for (uint32_t b = static_cast<uint32_t>(n_ + 1); b <= n_x_; ++b) {
                if (st_[b] == b && s_[b] == 1 && lab_[b] == 0) expand_blossom(b);
            }
        }
    }
};

}  // namespace

void mwpm_match_into(size_t n, std::span<const MatchingEdge> edges, std::span<int64_t> partner) {
    if (n == 0) return;
    ScratchLease<MatchingWorkspace> lease;
    lease.get().run(n, edges, partner);
}

std::vector<int64_t> mwpm_match(size_t n, std::span<const MatchingEdge> edges) {
    std::vector<int64_t> partner(n, -1);
    mwpm_match_into(n, edges, partner);
    return partner;
}

}  // namespace vornex
