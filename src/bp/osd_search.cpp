#include "bp/osd_search.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "bp/bp_osd.h"

namespace vornex {

namespace {

size_t word_count(size_t bits) { return (bits + 63) / 64; }

bool test_bit(const uint64_t* v, size_t bit) { return (v[bit >> 6] >> (bit & 63)) & 1; }

void xor_into(uint64_t* dst, const uint64_t* src, size_t words) {
    for (size_t w = 0; w < words; ++w) dst[w] ^= src[w];
}

// Incremental Gauss-Jordan over the columns handed to it.
class Elimination {
public:
    Elimination(const TannerGraph& g, OsdScratch& s) : g_(g), s_(s), words_(word_count(g.n_checks)) {
        s_.transform.assign(g.n_checks * words_, 0);
        for (size_t c = 0; c < g.n_checks; ++c) s_.transform[c * words_ + (c >> 6)] = uint64_t{1} << (c & 63);
        s_.pivoted.assign(words_, 0);
        s_.row_pivot.resize(g.n_checks);
        s_.image.resize(words_);
    }

    size_t words() const { return words_; }
    size_t pivots() const { return pivots_; }
    const uint64_t* column(size_t c) const { return s_.transform.data() + c * words_; }

    // out = T h_q, a word at a time so the sum stays in a register (XOR-ing
    // whole columns into out would chain every store to the next load).
    void reduce(uint32_t q, uint64_t* out) const {
        const uint32_t* checks = g_.qubit_edge_check.data();
        const uint32_t begin = g_.qubit_offsets[q], end = g_.qubit_offsets[q + 1];
        const uint64_t* t = s_.transform.data();
        for (size_t w = 0; w < words_; ++w) {
            uint64_t sum = 0;
            for (uint32_t j = begin; j < end; ++j) sum ^= t[checks[j] * words_ + w];
            out[w] = sum;
        }
    }

    // Makes q a pivot if it is independent of the pivots so far.
    bool add(uint32_t q) {
        uint64_t* v = s_.image.data();
        reduce(q, v);
        size_t p = kNoIndex;
        for (size_t w = 0; w < words_ && p == kNoIndex; ++w)
            if (const uint64_t fresh = v[w] & ~s_.pivoted[w]) p = w * 64 + static_cast<size_t>(__builtin_ctzll(fresh));
        if (p == kNoIndex) return false;
        // Row operation row_r ^= row_p for every other row r of v's support,
        // applied to each column of T.
        v[p >> 6] &= ~(uint64_t{1} << (p & 63));
        for (size_t c = 0; c < g_.n_checks; ++c) {
            uint64_t* col = s_.transform.data() + c * words_;
            if (test_bit(col, p)) xor_into(col, v, words_);
        }
        s_.pivoted[p >> 6] |= uint64_t{1} << (p & 63);
        s_.row_pivot[p] = q;
        ++pivots_;
        return true;
    }

private:
    const TannerGraph& g_;
    OsdScratch& s_;
    size_t words_;
    size_t pivots_ = 0;
};

// Weighs and remembers candidates; see the header for the order and ties.
class CandidateSearch {
public:
    CandidateSearch(const OsdScratch& s, std::span<const double> weights, size_t words)
        : s_(s), weights_(weights), words_(words) {}

    // Weight of e_S = reduced ^ x plus the free columns of the pattern.
    double weight(const uint64_t* x, double free_weight) const {
        double total = free_weight;
        for (size_t w = 0; w < words_; ++w) {
            uint64_t bits = (s_.reduced[w] ^ (x ? x[w] : 0)) & s_.pivoted[w];
            while (bits) {
                total += weights_[s_.row_pivot[w * 64 + static_cast<size_t>(__builtin_ctzll(bits))]];
                bits &= bits - 1;
            }
        }
        return total;
    }

    // True when `w` should replace the best so far.
    bool offer(double w) {
        if (!has_best_ || w < best_ - 1e-9 * std::max(std::fabs(w), std::fabs(best_))) {
            best_ = w;
            has_best_ = true;
            return true;
        }
        return false;
    }

private:
    const OsdScratch& s_;
    std::span<const double> weights_;
    size_t words_;
    double best_ = 0.0;
    bool has_best_ = false;
};

// The winning free pattern: up to two free-column positions, or a mask over
// the head for the exhaustive search.
struct Pattern {
    uint64_t head_mask = 0;
    size_t single = kNoIndex;
    size_t pair_second = kNoIndex;
};

void write_correction(const TannerGraph& g, OsdScratch& s, const Elimination& elim, const Pattern& best,
                      std::span<uint8_t> correction) {
    const size_t words = elim.words();
    std::vector<uint64_t>& x = s.candidate;
    x.assign(s.reduced.begin(), s.reduced.end());
    std::fill(correction.begin(), correction.end(), uint8_t{0});
    for (size_t i = 0; i < 64; ++i)
        if (best.head_mask >> i & 1) {
            xor_into(x.data(), s.head_images.data() + i * words, words);
            correction[s.free_columns[i]] = 1;
        }
    uint64_t* image = s.image.data();
    for (size_t f : {best.single, best.pair_second})
        if (f != kNoIndex) {
            elim.reduce(s.free_columns[f], image);
            xor_into(x.data(), image, words);
            correction[s.free_columns[f]] = 1;
        }
    for (size_t r = 0; r < g.n_checks; ++r)
        if (test_bit(s.pivoted.data(), r) && test_bit(x.data(), r)) correction[s.row_pivot[r]] = 1;
}

}  // namespace

size_t gf2_rank(const TannerGraph& graph, OsdScratch& scratch) {
    Elimination elim(graph, scratch);
    for (uint32_t q = 0; q < graph.n_qubits && elim.pivots() < graph.n_checks; ++q) elim.add(q);
    return elim.pivots();
}

bool osd_search(const TannerGraph& graph, size_t rank, std::span<const double> posterior,
                std::span<const double> weights, std::span<const uint8_t> syndrome, const OsdSettings& settings,
                OsdScratch& scratch, std::span<uint8_t> correction) {
    order_by_flip_likelihood(posterior, scratch.order);
    Elimination elim(graph, scratch);
    const size_t words = elim.words();
    scratch.free_columns.clear();
    size_t i = 0;
    for (; i < graph.n_qubits && elim.pivots() < rank; ++i)
        if (!elim.add(scratch.order[i])) scratch.free_columns.push_back(scratch.order[i]);
    scratch.free_columns.insert(scratch.free_columns.end(), scratch.order.begin() + i, scratch.order.end());

    scratch.reduced.assign(words, 0);
    for (size_t c = 0; c < graph.n_checks; ++c)
        if (syndrome[c] & 1) xor_into(scratch.reduced.data(), elim.column(c), words);
    for (size_t w = 0; w < words; ++w)
        if (scratch.reduced[w] & ~scratch.pivoted[w]) {
            for (size_t q = 0; q < graph.n_qubits; ++q) correction[q] = posterior[q] < 0.0 ? 1 : 0;
            return false;
        }

    CandidateSearch search(scratch, weights, words);
    Pattern best;
    // OSD-0 has one candidate: nothing to weigh.
    if (settings.method != OsdMethod::Osd0) search.offer(search.weight(nullptr, 0.0));
    const size_t head = settings.method == OsdMethod::Osd0 ? 0 : std::min(settings.order, scratch.free_columns.size());
    scratch.head_images.resize(head * words);
    for (size_t f = 0; f < head; ++f) elim.reduce(scratch.free_columns[f], scratch.head_images.data() + f * words);
    scratch.candidate.resize(words);
    uint64_t* x = scratch.candidate.data();

    if (settings.method == OsdMethod::Exhaustive) {
        for (uint64_t mask = 1; mask < (uint64_t{1} << head); ++mask) {
            std::fill(x, x + words, 0);
            double free_weight = 0.0;
            for (size_t f = 0; f < head; ++f)
                if (mask >> f & 1) {
                    xor_into(x, scratch.head_images.data() + f * words, words);
                    free_weight += weights[scratch.free_columns[f]];
                }
            if (search.offer(search.weight(x, free_weight))) best = Pattern{mask, kNoIndex, kNoIndex};
        }
    } else if (settings.method == OsdMethod::CombinationSweep) {
        for (size_t f = 0; f < scratch.free_columns.size(); ++f) {
            elim.reduce(scratch.free_columns[f], x);
            if (search.offer(search.weight(x, weights[scratch.free_columns[f]]))) best = Pattern{0, f, kNoIndex};
        }
        for (size_t a = 0; a < head; ++a)
            for (size_t b = a + 1; b < head; ++b) {
                for (size_t w = 0; w < words; ++w)
                    x[w] = scratch.head_images[a * words + w] ^ scratch.head_images[b * words + w];
                const double free_weight = weights[scratch.free_columns[a]] + weights[scratch.free_columns[b]];
                if (search.offer(search.weight(x, free_weight))) best = Pattern{0, a, b};
            }
    }
    write_correction(graph, scratch, elim, best, correction);
    return true;
}

}  // namespace vornex
