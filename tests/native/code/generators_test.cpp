#include "code/generators.h"

#include <gtest/gtest.h>

#include <map>

namespace vornex {
namespace {

TEST(Generators, SurfaceLayoutIndexFormulas) {
    auto d3 = generate_surface_code(3);
    ASSERT_TRUE(d3.ok());
    const auto& checks = d3.value().checks;
    ASSERT_EQ(checks.size(), 18u);
    EXPECT_EQ(d3.value().n_qubits, 9u);
    EXPECT_EQ(checks[0], (std::vector<uint32_t>{0, 1, 3, 4}));
    EXPECT_EQ(checks[9], (std::vector<uint32_t>{0, 2, 6, 8}));
    auto d2 = generate_surface_code(2);
    ASSERT_TRUE(d2.ok());
    EXPECT_EQ(d2.value().checks.size(), 8u);
    EXPECT_EQ(d2.value().checks[0], (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(d2.value().checks[4], (std::vector<uint32_t>{0, 1, 2, 3}));
}

TEST(Generators, EverySurfaceQubitLiesInEightChecks) {
    for (uint32_t d : {2u, 3u, 5u, 8u}) {
        auto code = generate_surface_code(d);
        ASSERT_TRUE(code.ok());
        std::map<uint32_t, int> slots;
        for (const auto& check : code.value().checks)
            for (uint32_t q : check) ++slots[q];
        ASSERT_EQ(slots.size(), size_t{d} * d);
        for (const auto& [q, count] : slots) EXPECT_EQ(count, 8) << "d=" << d << " q=" << q;
        // ... which the Union-Find family refuses.
        EXPECT_FALSE(build_check_graph(code.value().checks, code.value().n_qubits).ok());
    }
}

TEST(Generators, DistanceLimits) {
    EXPECT_EQ(generate_surface_code(1).error().message, "distance must be >= 2");
    EXPECT_EQ(generate_surface_code(0).error().message, "distance must be >= 2");
    // d*d must fit 32 bits; a wrapped grid would silently describe another code.
    EXPECT_EQ(generate_surface_code(65536).error().message, "distance must be <= 65535");
    EXPECT_EQ(generate_ring_code(65536).error().message, "distance must be <= 65535");
    EXPECT_EQ(generate_toy_code(70000).error().message, "distance must be <= 65535");
}

TEST(Generators, ToyRingRepetitionLayouts) {
    auto toy = generate_toy_code(2).value();
    ASSERT_EQ(toy.checks.size(), 8u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(toy.checks[i], toy.checks[i + 4]);
    EXPECT_TRUE(generate_toy_code(0).value().checks.empty());
    EXPECT_EQ(generate_toy_code(1).value().checks, (CheckList{{0, 0, 0, 0}, {0, 0, 0, 0}}));

    EXPECT_EQ(generate_ring_code(2).value().checks, (CheckList{{0, 1}, {1, 2}, {2, 3}, {3, 0}}));
    EXPECT_EQ(generate_ring_code(1).value().checks, (CheckList{{0, 0}}));
    EXPECT_EQ(generate_ring_code(0).value().n_qubits, 0u);

    auto rep = generate_repetition_code(3);
    EXPECT_EQ(rep.checks, (CheckList{{0, 1}, {1, 2}}));
    EXPECT_EQ(rep.n_qubits, 3u);
    EXPECT_TRUE(generate_repetition_code(1).checks.empty());
    EXPECT_EQ(generate_repetition_code(1).n_qubits, 1u);
    EXPECT_TRUE(generate_repetition_code(0).checks.empty());
    EXPECT_EQ(generate_repetition_code(0).n_qubits, 0u);
}

}  // namespace
}  // namespace vornex
