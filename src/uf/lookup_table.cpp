#include "uf/lookup_table.h"

#include <algorithm>
#include <array>
#include <new>

#include "base/memory_budget.h"
#include "base/shape.h"
#include "dem/model_budget.h"

namespace vornex {

Result<LookupTable> LookupTable::create(CheckList check_to_qubits, std::optional<size_t> n_qubits) {
    auto graph = build_check_graph(check_to_qubits, n_qubits);
    if (!graph) return graph.error();
    // Measured on a build and first decode: about 8 bytes per declared qubit.
    if (auto fits = check_declared_qubits(graph.value().n_qubits, "a lookup table", 8); !fits) return fits.error();
    LookupTable table;
    table.uf_ = std::move(graph).value();
    table.n_checks_ = table.uf_.n_checks;
    table.n_qubits_ = table.uf_.n_qubits;
    table.packed_keys_ = table.n_checks_ <= kPackedKeyChecks;

    // The graph accepted the code, so every index is below n_qubits.
    std::vector<uint32_t> degree(table.n_qubits_ + 1, 0);
    for (const auto& check : check_to_qubits)
        for (uint32_t q : check) ++degree[q + 1];
    for (size_t q = 0; q < table.n_qubits_; ++q) degree[q + 1] += degree[q];
    table.qubit_check_offsets_ = degree;
    table.qubit_checks_.resize(degree.back());
    for (size_t c = 0; c < check_to_qubits.size(); ++c)
        for (uint32_t q : check_to_qubits[c]) table.qubit_checks_[degree[q]++] = static_cast<uint32_t>(c);
    table.check_to_qubits_ = std::move(check_to_qubits);
    return table;
}

uint64_t LookupTable::packed_key(std::span<const uint8_t> syndrome) const {
    uint64_t key = 0;
    const size_t n = std::min(syndrome.size(), kPackedKeyChecks);
    for (size_t i = 0; i < n; ++i) key |= uint64_t{syndrome[i] & 1u} << i;
    return key;
}

namespace {

std::string_view bytes_view(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

size_t LookupTable::find(std::span<const uint8_t> syndrome) const {
    if (packed_keys_) {
        const auto it = packed_table_.find(packed_key(syndrome));
        return it == packed_table_.end() ? kNoEntry : it->second;
    }
    const auto it = byte_table_.find(bytes_view(syndrome));
    return it == byte_table_.end() ? kNoEntry : it->second;
}

bool LookupTable::contains(std::span<const uint8_t> syndrome) const { return find(syndrome) != kNoEntry; }

void LookupTable::insert_if_absent(std::span<const uint8_t> syndrome, uint64_t key, UfWorkspace& workspace) {
    if (packed_keys_ ? packed_table_.contains(key) : byte_table_.contains(bytes_view(syndrome))) return;
    const size_t entry = table_size();
    corrections_.resize((entry + 1) * n_qubits_);
    decode_into(uf_, syndrome, workspace, std::span(corrections_).subspan(entry * n_qubits_, n_qubits_));
    if (packed_keys_)
        packed_table_.emplace(key, entry);
    else
        byte_table_.emplace(std::string(bytes_view(syndrome)), entry);
}

void LookupTable::flip_qubit(uint32_t qubit, std::vector<uint8_t>& syndrome, uint64_t& key) const {
    for (uint32_t k = qubit_check_offsets_[qubit]; k < qubit_check_offsets_[qubit + 1]; ++k) {
        const uint32_t c = qubit_checks_[k];
        syndrome[c] ^= 1;
        if (packed_keys_) key ^= uint64_t{1} << c;
    }
}

void LookupTable::build_table(uint64_t max_entries) { (void)build_table(max_entries, nullptr); }

Status LookupTable::build_table(uint64_t max_entries, ProgressSink* progress) {
    UfWorkspace workspace;
    const bool finished = n_qubits_ <= kBinaryEnumerationQubits
                              ? enumerate_binary(max_entries, workspace, progress)
                              : enumerate_by_weight(max_entries, workspace, progress);
    return finished ? ok_status() : Status(interrupted_error());
}

namespace {

// Patterns tried between progress reports: a few milliseconds of work.
constexpr uint64_t kReportStride = 4096;

// Whether to go on after `tried` of `planned` patterns (asks the sink every
// kReportStride patterns).
bool keep_building(ProgressSink* progress, uint64_t tried, uint64_t planned) {
    return progress == nullptr || tried % kReportStride != 0 || progress->report(tried, planned);
}

// Patterns of weight 0 .. kMaxPatternWeight over n qubits, saturating.
uint64_t patterns_by_weight(uint64_t n) {
    long double count = 1, term = 1;
    for (uint64_t w = 1; w <= kMaxPatternWeight && w <= n; ++w) {
        term = term * static_cast<long double>(n - w + 1) / static_cast<long double>(w);
        count += term;
    }
    return count >= 1.8e19L ? UINT64_MAX : static_cast<uint64_t>(count);
}

}  // namespace

// Pattern i flips qubit j exactly when bit j of i is set. Stepping from i-1
// to i flips only the bits that changed, so each pattern's syndrome costs a
// couple of column flips on average instead of a full recomputation.
bool LookupTable::enumerate_binary(uint64_t max_entries, UfWorkspace& workspace, ProgressSink* progress) {
    std::vector<uint8_t> syndrome(n_checks_, 0);
    uint64_t key = 0;
    const uint64_t total = uint64_t{1} << n_qubits_;
    const uint64_t planned = std::min(total, max_entries);
    for (uint64_t i = 0; i < total && i != max_entries; ++i) {
        if (!keep_building(progress, i, planned)) return false;
        for (uint64_t changed = i == 0 ? 0 : (i - 1) ^ i; changed != 0; changed &= changed - 1)
            flip_qubit(static_cast<uint32_t>(__builtin_ctzll(changed)), syndrome, key);
        insert_if_absent(syndrome, key, workspace);
    }
    if (progress != nullptr) progress->report(planned, planned);
    return true;
}

// The zero pattern (always), then every pattern of one, two, three and four
// flips in lexicographic order, until max_entries patterns have been tried.
bool LookupTable::enumerate_by_weight(uint64_t max_entries, UfWorkspace& workspace, ProgressSink* progress) {
    std::vector<uint8_t> syndrome(n_checks_, 0);
    uint64_t key = 0;
    uint64_t tried = 0;
    const uint64_t planned = std::min(max_entries, patterns_by_weight(n_qubits_));
    const auto finish = [&] {
        if (progress != nullptr) progress->report(planned, planned);
        return true;
    };
    insert_if_absent(syndrome, key, workspace);
    if (++tried >= max_entries) return finish();

    const size_t n = n_qubits_;
    std::array<uint32_t, kMaxPatternWeight> pick{};
    for (size_t weight = 1; weight <= std::min(kMaxPatternWeight, n); ++weight) {
        for (size_t i = 0; i < weight; ++i) pick[i] = static_cast<uint32_t>(i);
        for (;;) {
            if (!keep_building(progress, tried, planned)) return false;
            for (size_t i = 0; i < weight; ++i) flip_qubit(pick[i], syndrome, key);
            insert_if_absent(syndrome, key, workspace);
            for (size_t i = 0; i < weight; ++i) flip_qubit(pick[i], syndrome, key);
            if (++tried >= max_entries) return finish();
            // Next combination: bump the rightmost index that still has room.
            size_t i = weight;
            while (i > 0 && pick[i - 1] == n - weight + (i - 1)) --i;
            if (i == 0) break;
            ++pick[i - 1];
            for (size_t k = i; k < weight; ++k) pick[k] = pick[k - 1] + 1;
        }
    }
    return finish();
}

void LookupTable::decode_row(std::span<const uint8_t> syndrome, UfWorkspace& workspace,
                             std::span<uint8_t> out) const {
    const size_t entry = find(syndrome);
    if (entry == kNoEntry) {
        decode_into(uf_, syndrome, workspace, out);
        return;
    }
    std::copy_n(corrections_.begin() + static_cast<std::ptrdiff_t>(entry * n_qubits_), n_qubits_, out.begin());
}

Result<std::vector<uint8_t>> LookupTable::decode(std::span<const uint8_t> syndrome) const {
    if (syndrome.size() != n_checks_)
        return value_error("Syndrome length mismatch: " + std::to_string(syndrome.size()) +
                           " != " + std::to_string(n_checks_));
    std::vector<uint8_t> correction(n_qubits_);
    UfWorkspace workspace;
    decode_row(syndrome, workspace, correction);
    return correction;
}

std::vector<uint8_t> LookupTable::batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, n_qubits_));
    UfWorkspace workspace;
    for (size_t row = 0; row < n_shots; ++row)
        decode_row(syndromes.subspan(row * n_checks_, n_checks_), workspace,
                   std::span(out).subspan(row * n_qubits_, n_qubits_));
    return out;
}

Result<LookupTable> LookupTable::from_model(const DetectorErrorModel& model) {
    if (auto fits = check_model_footprint(model, {"a lookup-table decoder", 132}); !fits) return fits.error();
    return create_from_model<LookupTable>(model, [](LookupTable& table, auto observables) {
        table.model_ = std::move(observables);
    });
}

}  // namespace vornex
