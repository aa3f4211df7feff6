// A syndrome-keyed cache of Union-Find corrections.
//
// build_table enumerates likely error patterns, computes each pattern's
// syndrome and stores the Union-Find correction of that syndrome. Every stored
// value is what the Union-Find core returns for its key, and misses are
// decoded by the core without being stored, so decode always returns the
// Union-Find correction; the table only saves work on frequent syndromes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/progress.h"
#include "base/result.h"
#include "code/check_graph.h"
#include "dem/dem_model.h"
#include "dem/model_prediction.h"
#include "uf/uf_core.h"

namespace vornex {

// Codes with at most this many checks key their table by one packed word.
inline constexpr size_t kPackedKeyChecks = 64;
// Up to this many qubits build_table counts through every pattern in binary;
// above it, it walks patterns by weight up to kMaxPatternWeight.
inline constexpr size_t kBinaryEnumerationQubits = 24;
inline constexpr size_t kMaxPatternWeight = 4;

class LookupTable {
public:
    // Validates the code as the Union-Find decoder does; the error is the
    // check-graph text unchanged.
    static Result<LookupTable> create(CheckList check_to_qubits, std::optional<size_t> n_qubits);

    size_t n_qubits() const { return n_qubits_; }
    size_t n_checks() const { return n_checks_; }
    bool packed_keys() const { return packed_keys_; }
    size_t table_size() const { return packed_keys_ ? packed_table_.size() : byte_table_.size(); }
    const CheckGraph& graph() const { return uf_; }

    // Adds entries for up to max_entries enumerated patterns (see the
    // enumeration constants). Existing entries are never replaced.
    void build_table(uint64_t max_entries);
    // Same, reporting patterns tried to `progress` (may be null); when the
    // sink asks to stop, the entries added so far stay and the result is
    // interrupted_error().
    Status build_table(uint64_t max_entries, ProgressSink* progress);

    // Packed key: bit i set when check i fired. Fired means bit 0 of the
    // byte, the same reading the Union-Find core uses, so a byte 3 finds the
    // entry of the syndrome the core would decode for it.
    uint64_t packed_key(std::span<const uint8_t> syndrome) const;

    // Length-checked single decode ("Syndrome length mismatch: {} != {}").
    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome) const;
    // n_shots rows of n_checks bytes, decoded in order on the calling thread.
    std::vector<uint8_t> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;
    // True when the syndrome's key is in the table.
    bool contains(std::span<const uint8_t> syndrome) const;

    // A table on the graph view of a model (checks = detectors, qubits =
    // edges) that predicts the model's observables; fails on hyperedges.
    static Result<LookupTable> from_model(const DetectorErrorModel& model);

    // Observable prediction (dem/model_prediction.h); model() is nullptr
    // for a table built from check lists.
    const ModelObservables* model() const { return model_.get(); }
    auto make_predictor() const {
        return correction_predictor(*model_, n_qubits_,
                                    [this, workspace = UfWorkspace{}](std::span<const uint8_t> events,
                                                                      std::span<uint8_t> correction) mutable {
                                        decode_row(events, workspace, correction);
                                    });
    }

private:
    struct BytesHash {
        using is_transparent = void;
        size_t operator()(std::string_view bytes) const { return std::hash<std::string_view>{}(bytes); }
    };

    LookupTable() = default;

    // Correction of one syndrome into `out`: a table copy on a hit, the core's
    // decode on a miss.
    void decode_row(std::span<const uint8_t> syndrome, UfWorkspace& workspace, std::span<uint8_t> out) const;
    static constexpr size_t kNoEntry = SIZE_MAX;

    // Index of the stored correction for the syndrome, or kNoEntry.
    size_t find(std::span<const uint8_t> syndrome) const;
    // Stores the core's correction of `syndrome` unless its key is present.
    void insert_if_absent(std::span<const uint8_t> syndrome, uint64_t key, UfWorkspace& workspace);
    void flip_qubit(uint32_t qubit, std::vector<uint8_t>& syndrome, uint64_t& key) const;
    // Both return false when the progress sink stopped them.
    bool enumerate_binary(uint64_t max_entries, UfWorkspace& workspace, ProgressSink* progress);
    bool enumerate_by_weight(uint64_t max_entries, UfWorkspace& workspace, ProgressSink* progress);

    CheckGraph uf_;
    CheckList check_to_qubits_;
    size_t n_checks_ = 0;
    size_t n_qubits_ = 0;
    bool packed_keys_ = false;
    // Checks of each qubit, once per occurrence, in CSR form; a qubit listed
    // twice in a check flips it twice, as the pattern syndrome's XOR demands.
    std::vector<uint32_t> qubit_check_offsets_;
    std::vector<uint32_t> qubit_checks_;
    // Both tables map to an entry index into corrections_ (n_qubits bytes each).
    std::unordered_map<uint64_t, size_t> packed_table_;
    std::unordered_map<std::string, size_t, BytesHash, std::equal_to<>> byte_table_;
    std::vector<uint8_t> corrections_;
    std::shared_ptr<const ModelObservables> model_;
};

}  // namespace vornex
