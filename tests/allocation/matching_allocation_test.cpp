// Shots of the exact matching engine allocate nothing once the thread's
// scratch is warm: plain, with per-shot weights, and correlated (two
// passes and a restore per shot), observables or edges out. Counted by
// replacing operator new for this executable.
#include "allocation_counter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wyrand.h"
#include "dem/dem_reader.h"
#include "matching/matching_decoder.h"

namespace vornex {
namespace {

// A repetition-code memory `width` detectors wide over `rounds` rounds, with
// space, time and boundary errors and decomposed errors that flip a space
// edge and the time edge after it together.
std::string memory_model(uint32_t width, uint32_t rounds) {
    const auto det = [&](uint32_t t, uint32_t i) { return " D" + std::to_string(t * width + i); };
    std::string text;
    for (uint32_t t = 0; t < rounds; ++t) {
        for (uint32_t i = 0; i < width; ++i) {
            text += "error(0.01)" + det(t, i) + (i + 1 < width ? det(t, i + 1) : std::string(" L0")) + "\n";
            if (i == 0) text += "error(0.01)" + det(t, 0) + "\n";
            if (t + 1 < rounds) text += "error(0.008)" + det(t, i) + det(t + 1, i) + "\n";
            if (t + 1 < rounds && i + 1 < width)
                text += "error(0.004)" + det(t, i) + det(t, i + 1) + " ^" + det(t, i + 1) + det(t + 1, i + 1) + "\n";
        }
    }
    return text;
}

TEST(MatchingAllocations, WarmShotsAllocateNothing) {
    const uint32_t width = 12, rounds = 12;
    const auto model = read_detector_error_model(memory_model(width, rounds)).value();
    const auto dec = MatchingDecoder::from_model(model, true).value();
    Wyrand rng(3);
    std::vector<std::vector<sparse::NodeId>> shots(300);
    for (auto& fired : shots)
        for (uint32_t d = 0; d < width * rounds; ++d)
            if (rng.next_unit() < 0.04) fired.push_back(d);
    const std::vector<EdgeWeight> overrides{{0, 0.5}, {7, 9.0}, {20, 0.0}};
    std::vector<uint32_t> edges;
    sparse::ObsMask obs = 0;
    uint64_t sink = 0;
    const auto run_all = [&] {
        for (const auto& fired : shots) {
            for (const bool correlated : {false, true}) {
                for (const auto& weights : {std::span<const EdgeWeight>(), std::span<const EdgeWeight>(overrides)}) {
                    ASSERT_TRUE(dec.match(fired, correlated, weights, obs).ok());
                    sink += obs;
                    ASSERT_TRUE(dec.match(fired, correlated, weights, obs, &edges).ok());
                    sink += edges.size();
                }
            }
        }
    };
    run_all();  // the thread's scratch grows to the largest shot
    const size_t before = g_allocations.load();
    run_all();
    EXPECT_EQ(g_allocations.load() - before, 0u) << sink;
}

// A batch allocates its output and a buffer per range of rows, never per
// shot: ten times the shots cost the same number of allocations, plain (the
// range holds the thread's scratch) and correlated.
TEST(MatchingAllocations, BatchAllocationsDoNotGrowWithShots) {
    const uint32_t width = 12, rounds = 12, n_detectors = width * rounds;
    const auto model = read_detector_error_model(memory_model(width, rounds)).value();
    const auto dec = MatchingDecoder::from_model(model, true).value();
    Wyrand rng(5);
    std::vector<uint8_t> few(300 * size_t{n_detectors});
    for (auto& bit : few) bit = rng.next_unit() < 0.04 ? 1 : 0;
    std::vector<uint8_t> many;
    for (int copy = 0; copy < 10; ++copy) many.insert(many.end(), few.begin(), few.end());
    for (const bool correlated : {false, true}) {
        const auto allocations = [&](const std::vector<uint8_t>& rows) {
            const size_t before = g_allocations.load();
            const auto out = dec.predict_observables(rows, rows.size() / n_detectors, false, false, correlated);
            EXPECT_TRUE(out.ok());
            return g_allocations.load() - before;
        };
        allocations(many);  // the thread's scratch grows to the largest shot
        EXPECT_EQ(allocations(many), allocations(few)) << "correlated " << correlated;
    }
}

}  // namespace
}  // namespace vornex
