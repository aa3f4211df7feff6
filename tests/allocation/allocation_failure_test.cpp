// An allocation that fails anywhere in a worker-pool call (in a worker's
// piece or on the calling thread) leaves the call with std::bad_alloc and the
// decoder as it was: the next call gives the uninterrupted answer. Every
// entry point that spreads shots over the pool is swept with the n-th
// allocation failing, for n from 0 until the call no longer reaches it.
// Its own executable: it replaces the global operator new.
#include "allocation_counter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/wyrand.h"
#include "bp/bp_osd_family.h"
#include "common/model_texts.h"
#include "bp/relay_bp_family.h"
#include "code/rotated_surface.h"
#include "dem/dem_reader.h"
#include "learned/learned_matching.h"
#include "matching/belief_matching.h"
#include "matching/blossom.h"
#include "matching/matching_decoder.h"
#include "matching/sparse_blossom.h"
#include "uf/batch.h"
#include "uf/cpu_batch.h"
#include "uf/decoder.h"
#include "uf/fast_uf.h"
#include "uf/lookup_table.h"
#include "uf/weighted_decoder.h"

namespace vornex {
namespace {

using Call = std::function<std::vector<uint8_t>()>;

template <class T>
T value_of(Result<T> result) {
    if (!result) throw std::runtime_error(result.error().message);
    return std::move(result).value();
}

// Sweeps the failing allocation over one call; returns how many calls failed.
size_t sweep(const std::string& name, const Call& call) {
    const std::vector<uint8_t> expected = call();
    size_t failed = 0;
    for (long n = 0;; n += n < 64 ? 1 : n / 8) {
        g_allocations_left = n;
        bool threw = false;
        std::vector<uint8_t> got;
        try {
            got = call();
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        const bool reached = g_allocations_left.exchange(-1) < 0;
        if (threw) {
            ++failed;
        } else {
            EXPECT_EQ(got, expected) << name << ": allocation " << n << " failed silently";
        }
        EXPECT_EQ(call(), expected) << name << ": after allocation " << n << " failed";
        if (!reached) break;
    }
    return failed;
}

using testing::repetition_model;

std::vector<uint8_t> random_rows(size_t n_shots, size_t width, uint64_t seed) {
    Wyrand rng(seed);
    std::vector<uint8_t> rows(n_shots * width);
    for (auto& b : rows) b = rng.next_u64() % 5 == 0;
    return rows;
}

std::vector<uint8_t> packed_rows(const std::vector<uint8_t>& rows, size_t n_shots, size_t width) {
    const size_t row_bytes = (width + 7) / 8;
    std::vector<uint8_t> packed(n_shots * row_bytes);
    for (size_t s = 0; s < n_shots; ++s) pack_bits(rows.data() + s * width, width, packed.data() + s * row_bytes);
    return packed;
}

TEST(AllocationFailure, ModelPredictionsOfEveryFamilyRaiseAndLeaveTheDecoderUsable) {
    const std::string text = repetition_model();
    const DetectorErrorModel model = value_of(read_detector_error_model(text));
    constexpr size_t kShots = 48;
    const std::vector<uint8_t> rows = random_rows(kShots, 12, 1);
    const std::vector<uint8_t> packed = packed_rows(rows, kShots, 12);

    const auto matching = value_of(MatchingDecoder::from_model(model));
    const auto blossom = value_of(BlossomDecoder::from_model(model));
    const auto union_find = value_of(UnionFindDecoder::from_model(model));
    const auto weighted = value_of(WeightedUnionFindDecoder::from_model(model));
    const auto table = value_of(LookupTable::from_model(model));
    const auto bp_osd = value_of(BpOsdFamily::from_model(model, BpOsdOptions::defined_bp_osd_settings()));
    const auto belief = value_of(BeliefMatchingDecoder::create(value_of(matching_model_from(model)), BpSettings{}));
    const auto learned = value_of(LearnedMatchingDecoder::from_model(model, 4, 1, 1));
    const auto relay = value_of(RelayBpFamily::from_model(model, RelaySettings{}));

    auto both_packings = [&](const std::string& name, auto& decoder) {
        EXPECT_GT(sweep(name, [&] { return value_of(predict_observables(decoder, rows, kShots, false, true)); }), 0u);
        EXPECT_GT(sweep(name + " packed",
                        [&] { return value_of(predict_observables(decoder, packed, kShots, true, true)); }),
                  0u);
    };
    both_packings("MatchingDecoder", matching);
    both_packings("BlossomDecoder", blossom);
    both_packings("UnionFindDecoder", union_find);
    both_packings("WeightedUnionFindDecoder", weighted);
    both_packings("LookupTable", table);
    both_packings("BpOsdFamily", bp_osd);
    both_packings("BeliefMatchingDecoder", belief);
    both_packings("LearnedMatchingDecoder", learned);
    both_packings("RelayBPDecoder", relay);
}

TEST(AllocationFailure, BatchDecodesOfEveryFamilyRaiseAndLeaveTheDecoderUsable) {
    const CheckList checks = value_of(generate_rotated_surface_code(5)).z_checks;
    const size_t n_checks = checks.size();
    constexpr size_t kShots = 48;
    const std::vector<uint8_t> rows = random_rows(kShots, n_checks, 2);

    const auto union_find = value_of(UnionFindDecoder::create(checks, std::nullopt));
    const auto fast = value_of(FastUnionFindDecoder::create(checks, std::nullopt));
    const auto batch = value_of(BatchDecoder::create(checks, std::nullopt));
    const auto cpu = value_of(CPUBatchDecoder::create(checks, std::nullopt));
    const auto weighted = value_of(WeightedUnionFindDecoder::create(checks, std::nullopt, std::nullopt));
    const auto table = value_of(LookupTable::create(checks, std::nullopt));
    const auto matching = value_of(MatchingDecoder::create(checks, std::nullopt, std::nullopt));
    const auto blossom = BlossomDecoder(build_blossom_graph(checks, std::nullopt, std::nullopt));
    const auto sparse = SparseBlossomDecoder::create(checks, std::nullopt).value();
    const auto bp_osd = value_of(BpOsdFamily::create(checks, std::nullopt, 0.05, BpOsdOptions{}));

    const std::vector<std::pair<std::string, Call>> calls = {
        {"UnionFindDecoder", [&] { return union_find.batch_decode(rows, kShots); }},
        {"FastUnionFindDecoder", [&] { return fast.batch_decode(rows, kShots); }},
        {"BatchDecoder", [&] { return batch.parallel_batch_decode(rows, kShots); }},
        {"CPUBatchDecoder", [&] { return cpu.batch_decode_par(rows, kShots); }},
        {"WeightedUnionFindDecoder", [&] { return weighted.batch_decode(rows, kShots); }},
        {"LookupTable", [&] { return table.batch_decode(rows, kShots); }},
        {"MatchingDecoder", [&] { return value_of(matching.batch_decode(rows, kShots)); }},
        {"BlossomDecoder", [&] { return blossom.batch_decode(rows, kShots); }},
        {"SparseBlossomDecoder", [&] { return sparse.batch_decode(std::span<const uint8_t>(rows), kShots); }},
        {"BPOSDDecoder", [&] { return bp_osd.batch_decode(rows, kShots); }},
    };
    for (const auto& [name, call] : calls) EXPECT_GT(sweep(name, call), 0u) << name;
}

// Per-thread scratch grows on a thread's first call; an allocation failing
// while it grows must not leave it looking grown. Each attempt runs on a new
// thread, whose scratch starts empty, and decodes again after the failure.
TEST(AllocationFailure, ScratchCaughtGrowingIsRebuiltForTheNextCall) {
    const std::string text = repetition_model();
    const DetectorErrorModel model = value_of(read_detector_error_model(text));
    const std::vector<uint8_t> rows = random_rows(16, 12, 3);
    const auto matching = value_of(MatchingDecoder::from_model(model));
    const auto bp_osd = value_of(BpOsdFamily::from_model(model, BpOsdOptions::defined_bp_osd_settings()));
    const std::vector<std::pair<std::string, Call>> calls = {
        {"MatchingDecoder", [&] { return value_of(predict_observables(matching, rows, 16, false, false)); }},
        {"BpOsdFamily", [&] { return value_of(predict_observables(bp_osd, rows, 16, false, false)); }},
    };
    for (const auto& [name, call] : calls) {
        std::vector<uint8_t> expected;
        std::thread([&] { expected = call(); }).join();
        size_t failed = 0;
        for (long n = 0;; ++n) {
            bool reached = false;
            std::thread([&] {
                g_allocations_left = n;
                try {
                    (void)call();
                } catch (const std::bad_alloc&) {
                    ++failed;
                }
                reached = g_allocations_left.exchange(-1) < 0;
                EXPECT_EQ(call(), expected) << name << ": after allocation " << n << " failed";
            }).join();
            if (!reached) break;
        }
        EXPECT_GT(failed, 0u) << name;
    }
}

}  // namespace
}  // namespace vornex
