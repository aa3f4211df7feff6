// The first BPOSDDecoder core, kept as the reference that the engine's
// defined preset (BpOsdEngine::create_defined behind BpOsdFamily) must
// reproduce byte for byte. It is its own min-sum loop over one message slot
// per listed (check, qubit) occurrence, a dense parity matrix and a row-wise
// OSD-0 that widens the column set until the syndrome is solved; nothing in
// src/ uses it. It shares the prior, the budget clock and the column order
// of src/bp/bp_osd.h with the engine (the plain references of bp_osd_test
// check those on their own).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "bp/bp_osd.h"
#include "code/check_graph.h"

namespace vornex::bp_osd_reference {

// Immutable tables of one code, derived once from its checks.
struct BpOsdCode {
    CheckList check_to_qubits;
    // Checks containing each qubit, ascending; a qubit repeated in a check
    // is listed once per occurrence.
    std::vector<std::vector<uint32_t>> qubit_to_checks;
    // n_checks x n_qubits, row-major, 1 where the check contains the qubit.
    std::vector<uint8_t> parity_matrix;
    // n_checks x n_qubits, row-major: last position of the qubit in the
    // check's list, -1 when absent.
    std::vector<int32_t> edge_position;
    // (offset, length) of each check's run in the check-to-qubit messages.
    std::vector<std::pair<uint32_t, uint32_t>> check_offsets;
    // (offset, length) of each qubit's run in the qubit-to-check messages.
    std::vector<std::pair<uint32_t, uint32_t>> qubit_offsets;
    size_t n_qubits = 0;
    size_t n_checks = 0;
    double error_rate = 0.0;

    // Hot-loop indirections, resolved once so an iteration is plain gathers.
    // For each check slot: index of the qubit-to-check message it reads
    // (kNoIndex for a qubit index >= n_qubits, which takes no part in BP).
    std::vector<uint32_t> check_slot_source;
    // For each qubit slot: index of the check-to-qubit message it reads.
    std::vector<uint32_t> qubit_slot_source;
    // Flattened qubit_to_checks, in qubit_offsets order.
    std::vector<uint32_t> qubit_slot_check;

    size_t n_check_slots() const { return check_slot_source.size(); }
    size_t n_qubit_slots() const { return qubit_slot_source.size(); }
};

// Builds the tables. n_qubits == nullopt derives (largest index) + 1, or 1
// for a code without any index. error_rate is kept as given; BP clamps it.
// Fails only when a size does not fit the 32-bit message indices.
Result<BpOsdCode> build_bp_osd_code(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                    double error_rate);

// Message arrays of one BP run; sized on first use, never shrunk.
struct BpWorkspace {
    std::vector<double> c2v;        // check-to-qubit, one per check slot
    std::vector<double> v2c;        // qubit-to-check, one per qubit slot
    std::vector<double> posterior;  // LLR per qubit; positive favours no flip
};

// Runs min-sum BP for at most min(max_iterations, kBpMaxIterations)
// iterations and leaves the posterior LLRs in workspace.posterior (exactly
// n_qubits values). With a budget, the clock is checked before every
// iteration, the first included. Returns the number of iterations run.
// Precondition: syndrome.size() == code.n_checks.
size_t bp_run(const BpOsdCode& code, std::span<const uint8_t> syndrome, size_t max_iterations,
              BpWorkspace& workspace, std::optional<BpBudget> budget = std::nullopt);

// Bit-packed elimination state of one OSD run; grows only.
struct OsdWorkspace {
    std::vector<uint32_t> order;     // qubits, likeliest flips first
    std::vector<uint64_t> rows;      // n_checks rows of packed columns + syndrome bit
    std::vector<uint32_t> pivot_row; // per column position, the row it pivots or kNoIndex
};

// OSD-0 on the given posterior: fills `correction` (n_qubits bytes) with the
// first GF(2) solution found on a growing column set taken in order of
// decreasing flip likelihood (increasing LLR), or
// the BP hard decision when the syndrome is outside the column space.
// Returns true when a solve succeeded.
// Preconditions: syndrome.size() == n_checks, posterior.size() and
// correction.size() == n_qubits.
bool osd_decode(const BpOsdCode& code, std::span<const uint8_t> syndrome, std::span<const double> posterior,
                OsdWorkspace& workspace, std::span<uint8_t> correction);

// A code with its reusable workspaces: the state behind one decoder object.
// Not safe for concurrent calls; the owner serialises them.
class BpOsdDecoder {
public:
    static Result<BpOsdDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                       double error_rate);

    const BpOsdCode& code() const { return code_; }
    size_t n_qubits() const { return code_.n_qubits; }
    size_t n_checks() const { return code_.n_checks; }

    // BP (at most kBpMaxIterations) then OSD.
    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome);
    // As decode, with BP also stopping once max_latency_ms have passed.
    Result<std::vector<uint8_t>> decode_timed(std::span<const uint8_t> syndrome, double max_latency_ms);
    // BP only; the posterior LLR of every qubit.
    Result<std::vector<double>> bp_decode(std::span<const uint8_t> syndrome, size_t max_iterations);

private:
    explicit BpOsdDecoder(BpOsdCode code) : code_(std::move(code)) {}
    Status check_syndrome(std::span<const uint8_t> syndrome) const;
    std::vector<uint8_t> run_osd(std::span<const uint8_t> syndrome);

    BpOsdCode code_;
    BpWorkspace bp_;
    OsdWorkspace osd_;
};

}  // namespace vornex::bp_osd_reference
