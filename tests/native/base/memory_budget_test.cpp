#include "base/memory_budget.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace vornex {
namespace {

class MemoryBudget : public ::testing::Test {
protected:
    void TearDown() override { ::unsetenv(kMemoryBudgetVariable); }
};

TEST_F(MemoryBudget, ReadsTheVariableWithSuffixesAndKeepsTheDefaultForAnythingElse) {
    EXPECT_EQ(memory_budget(), kDefaultMemoryBudget);
    const std::pair<const char*, double> settings[] = {
        {"123", 123.0}, {"3K", 3072.0}, {"5M", 5.0 * (1 << 20)}, {"2G", 0x1p31}, {"1T", 0x1p40},
        {"", kDefaultMemoryBudget}, {"0", kDefaultMemoryBudget}, {"-1", kDefaultMemoryBudget},
        {"8GB", kDefaultMemoryBudget}, {"lots", kDefaultMemoryBudget}, {" 5", kDefaultMemoryBudget},
        {"4k", kDefaultMemoryBudget}};
    for (const auto& [text, bytes] : settings) {
        ::setenv(kMemoryBudgetVariable, text, 1);
        EXPECT_EQ(memory_budget(), bytes) << text;
    }
}

TEST_F(MemoryBudget, RefusalNamesTheCountTheEstimateTheBudgetAndTheVariable) {
    EXPECT_TRUE(check_count_budget("the model", 1000, "detectors", "a decoder", 64.0));
    const Status refused = check_count_budget("the model", size_t{1} << 26, "detectors", "a matching decoder", 54.0);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ErrorKind::Memory);
    EXPECT_EQ(refused.error().message,
              "the model declares 67108864 detectors; a matching decoder for it needs about 3.4 GiB, above the memory "
              "budget of 2.0 GiB (set VORNEX_MEMORY_BUDGET to a number of bytes, optionally with a K, M, G or T "
              "suffix, to raise it)");
    // The square term counts, and a count whose square overflows any integer is still refused.
    ::setenv(kMemoryBudgetVariable, "1G", 1);
    EXPECT_TRUE(check_count_budget("the model", 90000, "detectors", "a BP-OSD decoder", 24.0, 0.125));
    EXPECT_FALSE(check_count_budget("the model", 100000, "detectors", "a BP-OSD decoder", 24.0, 0.125));
    EXPECT_FALSE(check_count_budget("the model", ~size_t{0}, "detectors", "a BP-OSD decoder", 24.0, 0.125));
}

TEST(ByteText, RoundsToTheLargestUnit) {
    EXPECT_EQ(byte_text(12), "12 bytes");
    EXPECT_EQ(byte_text(1536), "1.5 KiB");
    EXPECT_EQ(byte_text(640.0 * 1024), "640 KiB");
    EXPECT_EQ(byte_text(0x1p49), "512 TiB");
}

}  // namespace
}  // namespace vornex
