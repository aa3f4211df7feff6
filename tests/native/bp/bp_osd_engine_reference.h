// Plain references for the configurable BP and OSD, written straight from
// their definitions on dense byte matrices and nested vectors.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "bp/bp_settings.h"
#include "code/check_graph.h"

namespace vornex::reference {

using ByteMatrix = std::vector<std::vector<uint8_t>>;

// H[c][q] = 1 when check c lists q (once or more) and q < nq.
inline ByteMatrix parity_matrix(const CheckList& checks, size_t nq) {
    ByteMatrix h(checks.size(), std::vector<uint8_t>(nq, 0));
    for (size_t c = 0; c < checks.size(); ++c)
        for (uint32_t q : checks[c])
            if (q < nq) h[c][q] = 1;
    return h;
}

inline std::vector<uint8_t> syndrome_of(const ByteMatrix& h, std::span<const uint8_t> e) {
    std::vector<uint8_t> s(h.size(), 0);
    for (size_t c = 0; c < h.size(); ++c)
        for (size_t q = 0; q < e.size(); ++q) s[c] ^= h[c][q] & e[q] & 1;
    return s;
}

inline bool same_parity(const std::vector<uint8_t>& a, std::span<const uint8_t> b) {
    for (size_t c = 0; c < a.size(); ++c)
        if ((a[c] & 1) != (b[c] & 1)) return false;
    return true;
}

struct BpResult {
    std::vector<double> posterior;
    size_t iterations = 0;
    bool explained = false;
};

// BP with messages in dense matrices; every "all other" sum, product and
// minimum taken directly, in ascending index order.
inline BpResult bp(const ByteMatrix& h, const std::vector<double>& prior, std::span<const uint8_t> s,
                   const BpSettings& settings) {
    const size_t nc = h.size(), nq = prior.size();
    std::vector<std::vector<double>> c2v(nc, std::vector<double>(nq, 0.0)), v2c(nq, std::vector<double>(nc, 0.0));
    for (size_t q = 0; q < nq; ++q)
        for (size_t c = 0; c < nc; ++c) v2c[q][c] = prior[q];
    BpResult r;
    r.posterior = prior;
    auto hard = [&] {
        std::vector<uint8_t> e(nq);
        for (size_t q = 0; q < nq; ++q) e[q] = r.posterior[q] < 0 ? 1 : 0;
        return e;
    };
    auto check_message = [&](size_t c, size_t q) {
        const bool fired = s[c] & 1;
        if (settings.method == BpMethod::MinSum) {
            bool negative = fired;
            double mag = std::numeric_limits<double>::infinity();
            for (size_t o = 0; o < nq; ++o) {
                if (o == q || !h[c][o]) continue;
                negative ^= v2c[o][c] < 0;
                mag = std::min(mag, std::fabs(v2c[o][c]));
            }
            const double m = std::isinf(mag) ? 1e6 : settings.ms_scaling_factor * mag;
            return negative ? -m : m;
        }
        double product = 1.0;
        for (size_t o = 0; o < nq; ++o)
            if (o != q && h[c][o]) product *= std::tanh(v2c[o][c] / 2);
        const double cap = 1.0 - std::ldexp(1.0, -53);
        product = std::max(-cap, std::min(cap, product));
        const double m = 2 * std::atanh(product);
        return fired ? -m : m;
    };
    auto qubit_update = [&](size_t q) {
        double total = prior[q];
        for (size_t c = 0; c < nc; ++c)
            if (h[c][q]) total += c2v[c][q];
        for (size_t c = 0; c < nc; ++c) {
            if (!h[c][q]) continue;
            double sum = prior[q];
            for (size_t o = 0; o < nc; ++o)
                if (o != c && h[o][q]) sum += c2v[o][q];
            v2c[q][c] = sum;
        }
        const double change = std::fabs(total - r.posterior[q]);
        r.posterior[q] = total;
        return change;
    };
    r.explained = same_parity(syndrome_of(h, hard()), s);
    if (settings.stop == BpStop::Syndrome && r.explained) return r;
    while (r.iterations < settings.max_iterations) {
        double delta = 0;
        if (settings.schedule == BpSchedule::Parallel) {
            for (size_t c = 0; c < nc; ++c)
                for (size_t q = 0; q < nq; ++q)
                    if (h[c][q]) c2v[c][q] = check_message(c, q);
            for (size_t q = 0; q < nq; ++q) delta = std::max(delta, qubit_update(q));
        } else {
            for (size_t q = 0; q < nq; ++q) {
                for (size_t c = 0; c < nc; ++c)
                    if (h[c][q]) c2v[c][q] = check_message(c, q);
                delta = std::max(delta, qubit_update(q));
            }
        }
        ++r.iterations;
        r.explained = same_parity(syndrome_of(h, hard()), s);
        if (settings.stop == BpStop::Syndrome ? r.explained : delta < 1e-6) break;
    }
    return r;
}

// Gauss-Jordan on the given columns from scratch; x[i] is the bit of cols[i].
inline bool solve(const ByteMatrix& h, std::span<const uint8_t> s, const std::vector<uint32_t>& cols,
                  std::vector<uint8_t>& x) {
    const size_t n = h.size(), m = cols.size();
    x.assign(m, 0);
    ByteMatrix a(n, std::vector<uint8_t>(m + 1));
    for (size_t c = 0; c < n; ++c) {
        for (size_t i = 0; i < m; ++i) a[c][i] = h[c][cols[i]];
        a[c][m] = s[c] & 1;
    }
    std::vector<long> pivot_row(m, -1);
    size_t r = 0;
    for (size_t i = 0; i < m && r < n; ++i) {
        size_t p = r;
        while (p < n && !a[p][i]) ++p;
        if (p == n) continue;
        std::swap(a[p], a[r]);
        for (size_t o = 0; o < n; ++o)
            if (o != r && a[o][i])
                for (size_t k = 0; k <= m; ++k) a[o][k] ^= a[r][k];
        pivot_row[i] = static_cast<long>(r++);
    }
    for (size_t o = r; o < n; ++o)
        if (a[o][m]) return false;
    for (size_t i = 0; i < m; ++i)
        if (pivot_row[i] >= 0) x[i] = a[pivot_row[i]][m];
    return true;
}

// Likeliest flips first, NaN last, ties by index.
inline std::vector<uint32_t> flip_order(const std::vector<double>& post) {
    std::vector<uint32_t> order(post.size());
    for (size_t q = 0; q < order.size(); ++q) order[q] = static_cast<uint32_t>(q);
    auto rank = [&](uint32_t q) { return std::isnan(post[q]) ? std::numeric_limits<double>::infinity() : post[q]; };
    std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
        if (rank(x) != rank(y)) return rank(x) < rank(y);
        return !std::isnan(post[x]) && std::isnan(post[y]);
    });
    return order;
}

// OSD of the given method and order: every candidate solved from scratch,
// weighed over all qubits in index order.
inline std::vector<uint8_t> osd(const ByteMatrix& h, std::span<const uint8_t> s, const std::vector<double>& post,
                                const std::vector<double>& weights, OsdMethod method, size_t order) {
    const size_t nq = post.size();
    const auto cols = flip_order(post);
    std::vector<uint8_t> x;
    if (!solve(h, s, cols, x)) {
        std::vector<uint8_t> e(nq);
        for (size_t q = 0; q < nq; ++q) e[q] = post[q] < 0 ? 1 : 0;
        return e;
    }
    // Pivot columns: each column that raises the rank of those before it.
    std::vector<uint32_t> pivots, free;
    for (uint32_t q : cols) {
        // q is a pivot when its column is not a combination of the pivots so far.
        std::vector<uint8_t> column(h.size()), bits;
        for (size_t c = 0; c < h.size(); ++c) column[c] = h[c][q];
        (solve(h, column, pivots, bits) ? free : pivots).push_back(q);
    }
    auto candidate = [&](const std::vector<uint32_t>& flipped_free) {
        std::vector<uint8_t> e(nq, 0);
        for (uint32_t q : flipped_free) e[q] = 1;
        std::vector<uint8_t> target = syndrome_of(h, e);
        for (size_t c = 0; c < target.size(); ++c) target[c] ^= s[c] & 1;
        std::vector<uint8_t> bits;
        solve(h, target, pivots, bits);
        for (size_t i = 0; i < pivots.size(); ++i) e[pivots[i]] = bits[i];
        return e;
    };
    auto weight = [&](const std::vector<uint8_t>& e) {
        double w = 0;
        for (size_t q = 0; q < nq; ++q)
            if (e[q]) w += weights[q];
        return w;
    };
    std::vector<uint8_t> best = candidate({});
    double best_w = weight(best);
    auto offer = [&](const std::vector<uint32_t>& flipped_free) {
        auto e = candidate(flipped_free);
        const double w = weight(e);
        if (w < best_w - 1e-9 * std::max(std::fabs(w), std::fabs(best_w))) {
            best = e;
            best_w = w;
        }
    };
    const size_t head = std::min(order, free.size());
    if (method == OsdMethod::Exhaustive) {
        for (uint64_t mask = 1; mask < (uint64_t{1} << head); ++mask) {
            std::vector<uint32_t> flipped;
            for (size_t i = 0; i < head; ++i)
                if (mask >> i & 1) flipped.push_back(free[i]);
            offer(flipped);
        }
    } else if (method == OsdMethod::CombinationSweep) {
        for (uint32_t f : free) offer({f});
        for (size_t a = 0; a < head; ++a)
            for (size_t b = a + 1; b < head; ++b) offer({free[a], free[b]});
    }
    return best;
}

}  // namespace vornex::reference
