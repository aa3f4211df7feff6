#include "bp/bp_osd_reference.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>

namespace vornex::bp_osd_reference {

namespace {

size_t derive_n_qubits(const CheckList& checks) {
    size_t n = 0;
    for (const auto& check : checks)
        for (uint32_t q : check) n = std::max(n, size_t{q} + 1);
    return n == 0 ? 1 : n;
}

// Message slots are addressed by 32-bit ids with kNoIndex reserved.
bool fits_slot_ids(size_t n) { return n < size_t{kNoIndex}; }

}  // namespace

Result<BpOsdCode> build_bp_osd_code(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                    double error_rate) {
    BpOsdCode code;
    code.n_qubits = n_qubits ? *n_qubits : derive_n_qubits(check_to_qubits);
    code.n_checks = check_to_qubits.size();
    code.error_rate = error_rate;
    const size_t nq = code.n_qubits;
    const size_t nc = code.n_checks;

    size_t dense = 0;
    if (!fits_slot_ids(nq) || !fits_slot_ids(nc) || __builtin_mul_overflow(nq, nc, &dense))
        return value_error("Code too large: " + std::to_string(nc) + " checks x " + std::to_string(nq) +
                           " qubits");

    size_t check_slots = 0;
    for (const auto& check : check_to_qubits) check_slots += check.size();
    if (!fits_slot_ids(check_slots))
        return value_error("Code too large: " + std::to_string(check_slots) + " check entries");

    code.qubit_to_checks.assign(nq, {});
    code.parity_matrix.assign(dense, 0);
    code.edge_position.assign(dense, -1);
    code.check_offsets.reserve(nc);
    uint32_t offset = 0;
    for (size_t c = 0; c < nc; ++c) {
        const auto& check = check_to_qubits[c];
        code.check_offsets.emplace_back(offset, static_cast<uint32_t>(check.size()));
        offset += static_cast<uint32_t>(check.size());
        for (size_t w = 0; w < check.size(); ++w) {
            const uint32_t q = check[w];
            if (q >= nq) continue;
            code.qubit_to_checks[q].push_back(static_cast<uint32_t>(c));
            code.parity_matrix[c * nq + q] = 1;
            code.edge_position[c * nq + q] = static_cast<int32_t>(w);
        }
    }

    code.qubit_offsets.reserve(nq);
    offset = 0;
    for (size_t q = 0; q < nq; ++q) {
        const auto& checks = code.qubit_to_checks[q];
        code.qubit_offsets.emplace_back(offset, static_cast<uint32_t>(checks.size()));
        offset += static_cast<uint32_t>(checks.size());
        for (uint32_t c : checks) {
            code.qubit_slot_check.push_back(c);
            code.qubit_slot_source.push_back(code.check_offsets[c].first +
                                              static_cast<uint32_t>(code.edge_position[c * nq + q]));
        }
    }

    // A check slot reads the qubit's message at the first occurrence of the
    // check in that qubit's list.
    code.check_slot_source.assign(check_slots, kNoIndex);
    for (size_t c = 0; c < nc; ++c) {
        const auto [check_off, check_len] = code.check_offsets[c];
        for (uint32_t w = 0; w < check_len; ++w) {
            const uint32_t q = check_to_qubits[c][w];
            if (q >= nq) continue;
            const auto& checks = code.qubit_to_checks[q];
            const auto first = std::find(checks.begin(), checks.end(), static_cast<uint32_t>(c));
            code.check_slot_source[check_off + w] =
                code.qubit_offsets[q].first + static_cast<uint32_t>(first - checks.begin());
        }
    }
    code.check_to_qubits = std::move(check_to_qubits);
    return code;
}

namespace {

// v2c[q, j] = L + sum of the qubit's incoming messages except position j,
// summed term by term in list order rather than as total minus own term:
// in symmetric codes such sums often cancel to exactly zero, where one
// rounding step would decide the sign of every message the check sends.
//
// For small degrees all W sums advance together, adding 0.0 in place of the
// skipped term. That leaves every sum bit-identical (x + 0.0 == x for every
// x except -0.0, and a sum that starts at the prior never becomes -0.0) while
// the fixed-width inner loop vectorises.
template <uint32_t W>
void qubit_messages_fixed(const uint32_t* src, uint32_t len, double prior, const double* c2v, double* out) {
    double sums[W];
    for (uint32_t j = 0; j < W; ++j) sums[j] = prior;
    for (uint32_t k = 0; k < len; ++k) {
        const double x = c2v[src[k]];
        for (uint32_t j = 0; j < W; ++j) sums[j] += j == k ? 0.0 : x;
    }
    for (uint32_t j = 0; j < len; ++j) out[j] = sums[j];
}

void qubit_messages_any(const uint32_t* src, uint32_t len, double prior, const double* c2v, double* out) {
    for (uint32_t j = 0; j < len; ++j) {
        double sum = prior;
        for (uint32_t k = 0; k < len; ++k)
            if (k != j) sum += c2v[src[k]];
        out[j] = sum;
    }
}

void update_qubit_messages(const BpOsdCode& code, double prior, const double* c2v, double* v2c) {
    for (const auto& [off, len] : code.qubit_offsets) {
        const uint32_t* src = code.qubit_slot_source.data() + off;
        if (len <= 4)
            qubit_messages_fixed<4>(src, len, prior, c2v, v2c + off);
        else if (len <= 8)
            qubit_messages_fixed<8>(src, len, prior, c2v, v2c + off);
        else if (len <= 16)
            qubit_messages_fixed<16>(src, len, prior, c2v, v2c + off);
        else
            qubit_messages_any(src, len, prior, c2v, v2c + off);
    }
}

// Min-sum: each check answers with the sign product and the smallest
// magnitude of the other incoming messages, negated for a fired check. The
// minimum over "all but one" is the overall minimum unless that one is the
// argmin, in which case it is the second smallest.
void update_check_messages(const BpOsdCode& code, std::span<const uint8_t> syndrome, const double* v2c,
                           double* c2v) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    for (size_t c = 0; c < code.n_checks; ++c) {
        const auto [off, len] = code.check_offsets[c];
        const uint32_t* src = code.check_slot_source.data() + off;
        bool negative = false;
        double min1 = kInf;
        double min2 = kInf;
        uint32_t argmin = kNoIndex;
        for (uint32_t w = 0; w < len; ++w) {
            if (src[w] == kNoIndex) continue;
            const double m = v2c[src[w]];
            negative ^= m < 0.0;
            const double mag = std::fabs(m);
            // Branch-free form of: new minimum, else new runner-up.
            const bool lowest = mag < min1;
            min2 = lowest ? min1 : std::min(min2, mag);
            argmin = lowest ? w : argmin;
            min1 = lowest ? mag : min1;
        }
        // Messages take a check as fired only for the byte 1; the OSD right-hand
        // side reads bit 0, so a byte 3 still has to be explained there.
        const bool fired = syndrome[c] == 1;
        for (uint32_t w = 0; w < len; ++w) {
            if (src[w] == kNoIndex) continue;
            const bool sign_negative = negative ^ (v2c[src[w]] < 0.0) ^ fired;
            double mag = w == argmin ? min2 : min1;
            if (mag == kInf) mag = kBpLoneCheckMessage;
            c2v[off + w] = sign_negative ? -mag : mag;
        }
    }
}

// Posterior L + sum of incoming messages; returns the largest change.
double update_posterior(const BpOsdCode& code, double prior, const double* c2v, double* posterior) {
    double delta = 0.0;
    for (size_t q = 0; q < code.n_qubits; ++q) {
        const auto [off, len] = code.qubit_offsets[q];
        double sum = prior;
        for (uint32_t k = 0; k < len; ++k) sum += c2v[code.qubit_slot_source[off + k]];
        const double change = std::fabs(sum - posterior[q]);
        if (change > delta) delta = change;
        posterior[q] = sum;
    }
    return delta;
}

}  // namespace

size_t bp_run(const BpOsdCode& code, std::span<const uint8_t> syndrome, size_t max_iterations,
              BpWorkspace& workspace, std::optional<BpBudget> budget) {
    const auto start = std::chrono::steady_clock::now();
    const size_t max_iter = std::min(max_iterations, kBpMaxIterations);
    const double prior = bp_prior_llr(code.error_rate);
    workspace.c2v.assign(code.n_check_slots(), 0.0);
    workspace.v2c.resize(code.n_qubit_slots());
    workspace.posterior.assign(code.n_qubits, prior);

    size_t iterations = 0;
    while (iterations < max_iter) {
        if (budget && budget->max_latency_ms <= bp_elapsed_ms(start)) break;
        update_qubit_messages(code, prior, workspace.c2v.data(), workspace.v2c.data());
        update_check_messages(code, syndrome, workspace.v2c.data(), workspace.c2v.data());
        const double delta = update_posterior(code, prior, workspace.c2v.data(), workspace.posterior.data());
        ++iterations;
        if (delta < kBpConvergence) break;
    }
    return iterations;
}

namespace {

bool test_bit(const uint64_t* row, size_t bit) { return (row[bit >> 6] >> (bit & 63)) & 1; }

// Row-wise augmented matrix over columns in reliability order: bit i of row c
// is H[c][order[i]], bit n_qubits is the syndrome bit of check c.
void fill_augmented(const BpOsdCode& code, std::span<const uint8_t> syndrome, OsdWorkspace& ws, size_t words) {
    ws.rows.assign(code.n_checks * words, 0);
    for (size_t i = 0; i < code.n_qubits; ++i) {
        const auto [off, len] = code.qubit_offsets[ws.order[i]];
        for (uint32_t k = 0; k < len; ++k) {
            const uint32_t c = code.qubit_slot_check[off + k];
            ws.rows[c * words + (i >> 6)] |= uint64_t{1} << (i & 63);
        }
    }
    const size_t s = code.n_qubits;
    for (size_t c = 0; c < code.n_checks; ++c)
        if (syndrome[c] & 1) ws.rows[c * words + (s >> 6)] |= uint64_t{1} << (s & 63);
}

// Incremental Gauss-Jordan. Processing columns in order means the state after
// column i is exactly what a fresh solve on columns 0..i would reach, so
// adding a column only continues the elimination. Rows from the pivot counter
// on are zero in every processed column; such a system is consistent exactly
// when those rows also have a zero syndrome bit.
class Eliminator {
public:
    Eliminator(uint64_t* rows, size_t n_rows, size_t words, size_t syndrome_bit)
        : rows_(rows), n_rows_(n_rows), words_(words), syndrome_bit_(syndrome_bit) {}

    // Eliminates column i; returns the row it pivots, or kNoIndex.
    uint32_t add_column(size_t i) {
        if (next_ == n_rows_) return kNoIndex;
        size_t pivot = next_;
        while (pivot < n_rows_ && !test_bit(row(pivot), i)) ++pivot;
        if (pivot == n_rows_) return kNoIndex;
        // Bits left of column i are zero in the pivot row, so work starts at
        // its word.
        const size_t first = i >> 6;
        if (pivot != next_) std::swap_ranges(row(pivot) + first, row(pivot) + words_, row(next_) + first);
        const uint64_t* p = row(next_);
        for (size_t r = 0; r < n_rows_; ++r) {
            if (r == next_ || !test_bit(row(r), i)) continue;
            uint64_t* dst = row(r);
            for (size_t w = first; w < words_; ++w) dst[w] ^= p[w];
        }
        return static_cast<uint32_t>(next_++);
    }

    bool consistent() const {
        for (size_t r = next_; r < n_rows_; ++r)
            if (test_bit(row(r), syndrome_bit_)) return false;
        return true;
    }

    bool solution_bit(uint32_t pivot_row) const { return test_bit(row(pivot_row), syndrome_bit_); }

private:
    uint64_t* row(size_t r) { return rows_ + r * words_; }
    const uint64_t* row(size_t r) const { return rows_ + r * words_; }

    uint64_t* rows_;
    size_t n_rows_;
    size_t words_;
    size_t syndrome_bit_;
    size_t next_ = 0;
};

}  // namespace

bool osd_decode(const BpOsdCode& code, std::span<const uint8_t> syndrome, std::span<const double> posterior,
                OsdWorkspace& workspace, std::span<uint8_t> correction) {
    const size_t nq = code.n_qubits;
    order_by_flip_likelihood(posterior, workspace.order);
    const size_t words = (nq + 1 + 63) / 64;
    fill_augmented(code, syndrome, workspace, words);
    workspace.pivot_row.assign(nq, kNoIndex);
    std::fill(correction.begin(), correction.end(), uint8_t{0});

    Eliminator elim(workspace.rows.data(), code.n_checks, words, nq);
    const size_t initial = std::min(code.n_checks, nq);
    size_t used = 0;
    for (; used < initial; ++used) workspace.pivot_row[used] = elim.add_column(used);
    while (!elim.consistent()) {
        if (used == nq) {
            for (size_t q = 0; q < nq; ++q) correction[q] = posterior[q] < 0.0 ? 1 : 0;
            return false;
        }
        workspace.pivot_row[used] = elim.add_column(used);
        ++used;
    }
    for (size_t i = 0; i < used; ++i)
        if (workspace.pivot_row[i] != kNoIndex)
            correction[workspace.order[i]] = elim.solution_bit(workspace.pivot_row[i]) ? 1 : 0;
    return true;
}

Result<BpOsdDecoder> BpOsdDecoder::create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                          double error_rate) {
    auto code = build_bp_osd_code(std::move(check_to_qubits), n_qubits, error_rate);
    if (!code) return code.error();
    return BpOsdDecoder(std::move(code).value());
}

Status BpOsdDecoder::check_syndrome(std::span<const uint8_t> syndrome) const {
    if (syndrome.size() != code_.n_checks)
        return value_error("Syndrome length " + std::to_string(syndrome.size()) + " != n_checks " +
                           std::to_string(code_.n_checks));
    return ok_status();
}

std::vector<uint8_t> BpOsdDecoder::run_osd(std::span<const uint8_t> syndrome) {
    std::vector<uint8_t> correction(code_.n_qubits);
    osd_decode(code_, syndrome, bp_.posterior, osd_, correction);
    return correction;
}

Result<std::vector<uint8_t>> BpOsdDecoder::decode(std::span<const uint8_t> syndrome) {
    if (auto st = check_syndrome(syndrome); !st) return st.error();
    bp_run(code_, syndrome, kBpMaxIterations, bp_);
    return run_osd(syndrome);
}

Result<std::vector<uint8_t>> BpOsdDecoder::decode_timed(std::span<const uint8_t> syndrome, double max_latency_ms) {
    if (auto st = check_syndrome(syndrome); !st) return st.error();
    bp_run(code_, syndrome, kBpMaxIterations, bp_, BpBudget{max_latency_ms});
    return run_osd(syndrome);
}

Result<std::vector<double>> BpOsdDecoder::bp_decode(std::span<const uint8_t> syndrome, size_t max_iterations) {
    if (auto st = check_syndrome(syndrome); !st) return st.error();
    bp_run(code_, syndrome, max_iterations, bp_);
    return std::vector<double>(bp_.posterior.begin(), bp_.posterior.begin() + code_.n_qubits);
}

}  // namespace vornex::bp_osd_reference
