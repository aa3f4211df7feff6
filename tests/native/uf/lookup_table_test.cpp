#include "uf/lookup_table.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <string>

#include "code/generators.h"

namespace vornex {
namespace {

LookupTable make_table(const CheckList& checks, std::optional<size_t> n_qubits = std::nullopt) {
    auto table = LookupTable::create(checks, n_qubits);
    EXPECT_TRUE(table.ok());
    return std::move(table).value();
}

std::vector<uint8_t> pattern_syndrome(const CheckList& checks, const std::vector<uint8_t>& pattern) {
    std::vector<uint8_t> s(checks.size(), 0);
    for (size_t c = 0; c < checks.size(); ++c)
        for (uint32_t q : checks[c]) s[c] ^= pattern[q];
    return s;
}

// std::string keys keep the reference sets simple to compare.
std::string key_of(const std::vector<uint8_t>& s) { return std::string(s.begin(), s.end()); }

// Distinct syndromes among the first `limit` patterns of the binary order.
size_t distinct_binary(const CheckList& checks, size_t nq, uint64_t limit) {
    std::set<std::string> seen;
    for (uint64_t i = 0; i < (uint64_t{1} << nq) && i < limit; ++i) {
        std::vector<uint8_t> pattern(nq);
        for (size_t j = 0; j < nq; ++j) pattern[j] = (i >> j) & 1;
        seen.insert(key_of(pattern_syndrome(checks, pattern)));
    }
    return seen.size();
}

// Distinct syndromes among the first max(1, limit) patterns of the weight
// order (zero, singles, pairs, triples, quadruples; each lexicographic).
size_t distinct_by_weight(const CheckList& checks, size_t nq, uint64_t limit) {
    std::set<std::string> seen;
    uint64_t tried = 0;
    std::vector<uint8_t> pattern(nq, 0);
    seen.insert(key_of(pattern_syndrome(checks, pattern)));
    ++tried;
    std::function<bool(size_t, size_t)> walk = [&](size_t start, size_t left) {
        if (left == 0) {
            if (tried >= limit) return false;
            seen.insert(key_of(pattern_syndrome(checks, pattern)));
            ++tried;
            return true;
        }
        for (size_t q = start; q < nq; ++q) {
            pattern[q] = 1;
            const bool go_on = walk(q + 1, left - 1);
            pattern[q] = 0;
            if (!go_on) return false;
        }
        return true;
    };
    for (size_t w = 1; w <= 4 && walk(0, w); ++w) {
    }
    return seen.size();
}

CheckList chain(uint32_t n_qubits) { return generate_repetition_code(n_qubits).checks; }

// Every syndrome of a small code, plus the same syndromes with fired bytes
// written as 3 and quiet bytes as 2: the table must agree with the core on
// all of them, before and after building.
TEST(LookupTable, AlwaysEqualsUnionFind) {
    std::mt19937_64 rng(3);
    const std::vector<CheckList> codes = {chain(6), generate_ring_code(2).value().checks,
                                          {{0, 1}, {1, 2}, {3}, {2, 3}, {4, 0}}, {{0, 0}, {1, 2}, {2}}};
    for (const auto& checks : codes) {
        LookupTable table = make_table(checks);
        const size_t nc = checks.size();
        auto check_all = [&] {
            for (uint64_t bits = 0; bits < (uint64_t{1} << nc); ++bits) {
                std::vector<uint8_t> s(nc), odd(nc);
                for (size_t k = 0; k < nc; ++k) {
                    s[k] = (bits >> k) & 1;
                    odd[k] = static_cast<uint8_t>(s[k] + 2 * (rng() % 2));
                }
                const auto expected = decode(table.graph(), s);
                ASSERT_EQ(table.decode(s).value(), expected);
                ASSERT_EQ(table.decode(odd).value(), expected) << "bytes 2 and 3 must read as 0 and 1";
            }
        };
        check_all();
        table.build_table(5);
        check_all();
        table.build_table(1000000);
        check_all();
    }
}

TEST(LookupTable, PackedKeyReadsBitZero) {
    LookupTable table = make_table(chain(4));
    EXPECT_EQ(table.packed_key(std::vector<uint8_t>{3, 2, 1}), 0b101u);
    // With the whole table built, [3, 0, 0] finds the entry of [1, 0, 0],
    // which is the syndrome the core decodes for it, not the zero entry.
    table.build_table(100);
    const std::vector<uint8_t> three{3, 0, 0};
    EXPECT_EQ(table.decode(three).value(), (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(table.decode(std::vector<uint8_t>{2, 2, 2}).value(), std::vector<uint8_t>(4, 0));
}

TEST(LookupTable, BinaryEnumerationSizes) {
    // Three qubits, room for 100: all 8 patterns.
    const CheckList three{{0, 1}, {1, 2}};
    LookupTable small = make_table(three);
    small.build_table(0);
    EXPECT_EQ(small.table_size(), 0u);
    small.build_table(100);
    EXPECT_EQ(small.table_size(), distinct_binary(three, 3, 100));
    EXPECT_EQ(small.table_size(), 4u);

    // 24 qubits still count in binary; cut off by max_entries.
    const CheckList c24 = chain(24);
    for (uint64_t limit : {1u, 2u, 3u, 1000u, 5000u}) {
        LookupTable t = make_table(c24);
        t.build_table(limit);
        EXPECT_EQ(t.table_size(), distinct_binary(c24, 24, limit)) << limit;
    }
}

TEST(LookupTable, WeightEnumerationSizes) {
    const CheckList c25 = chain(25);
    LookupTable zero = make_table(c25);
    zero.build_table(0);
    EXPECT_EQ(zero.table_size(), 1u);  // the zero pattern is always tried
    for (uint64_t limit : {1u, 2u, 26u, 27u, 400u, 20000u}) {
        LookupTable t = make_table(c25);
        t.build_table(limit);
        EXPECT_EQ(t.table_size(), distinct_by_weight(c25, 25, limit)) << limit;
    }
    // 70 qubits on 69 checks: byte keys, cut off inside the triples.
    const CheckList c70 = chain(70);
    LookupTable wide = make_table(c70);
    EXPECT_FALSE(wide.packed_keys());
    wide.build_table(3000);
    EXPECT_EQ(wide.table_size(), distinct_by_weight(c70, 70, 3000));
}

TEST(LookupTable, KeyKindFollowsCheckCount) {
    EXPECT_TRUE(make_table(chain(65)).packed_keys());   // 64 checks
    EXPECT_FALSE(make_table(chain(66)).packed_keys());  // 65 checks
    // Byte keys tell apart syndromes that differ only past position 64.
    LookupTable t = make_table(chain(70));
    t.build_table(71);  // zero pattern and every single flip
    std::vector<uint8_t> low(69, 0), high(69, 0);
    low[0] = 1;
    high[0] = 1;
    high[66] = 1;
    high[67] = 1;
    EXPECT_TRUE(t.contains(low));
    EXPECT_FALSE(t.contains(high));
    EXPECT_EQ(t.decode(high).value(), decode(t.graph(), high));
}

TEST(LookupTable, RebuildingKeepsEntriesAndBatchMatchesRows) {
    const CheckList checks = chain(30);
    LookupTable grown = make_table(checks);
    grown.build_table(10);
    const size_t first = grown.table_size();
    grown.build_table(600);
    LookupTable fresh = make_table(checks);
    fresh.build_table(600);
    EXPECT_GT(grown.table_size(), first);
    EXPECT_EQ(grown.table_size(), fresh.table_size());

    std::mt19937_64 rng(11);
    const size_t shots = 300;
    std::vector<uint8_t> rows(shots * 29);
    for (auto& b : rows) b = rng() % 10 == 0 ? static_cast<uint8_t>(1 + rng() % 3) : 0;
    const auto out = grown.batch_decode(rows, shots);
    ASSERT_EQ(out.size(), shots * 30);
    for (size_t r = 0; r < shots; ++r) {
        const std::span<const uint8_t> row(rows.data() + r * 29, 29);
        ASSERT_EQ(std::vector<uint8_t>(out.begin() + r * 30, out.begin() + (r + 1) * 30), decode(grown.graph(), row));
    }
}

TEST(LookupTable, ErrorsAreExact) {
    // Code errors are the check graph's own texts, passed on unchanged.
    EXPECT_EQ(LookupTable::create({}, std::nullopt).error().message,
              build_check_graph({}, std::nullopt).error().message);
    EXPECT_EQ(LookupTable::create({{0, 1}}, size_t{1}).error().message,
              build_check_graph({{0, 1}}, size_t{1}).error().message);
    LookupTable t = make_table({{0, 1}, {1, 2}});
    const auto err = t.decode(std::vector<uint8_t>(3, 0)).error();
    EXPECT_EQ(err.kind, ErrorKind::Value);
    EXPECT_EQ(err.message, "Syndrome length mismatch: 3 != 2");
    // An explicit n_qubits above the largest index pads corrections.
    EXPECT_EQ(make_table({{0, 1}}, size_t{5}).decode(std::vector<uint8_t>{1}).value().size(), 5u);
}

}  // namespace
}  // namespace vornex
