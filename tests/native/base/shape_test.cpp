#include "base/shape.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace vornex {
namespace {

TEST(Shape, BatchShapeTextsAreExact) {
    auto shape = [](std::vector<size_t> dims) {
        const auto st = check_batch_shape(2, dims);
        return st.ok() ? std::string("ok") : st.error().message;
    };
    EXPECT_EQ(shape({}), "Expected shape (batch, 2), got []");
    EXPECT_EQ(shape({2}), "Expected shape (batch, 2), got [2]");
    EXPECT_EQ(shape({5, 3}), "Expected shape (batch, 2), got [5, 3]");
    EXPECT_EQ(shape({1, 2, 1}), "Expected shape (batch, 2), got [1, 2, 1]");
    EXPECT_EQ(shape({0, 2}), "ok");
}

TEST(Shape, OversizedBatchIsRefusedNotWrapped) {
    EXPECT_THROW(batch_bytes(SIZE_MAX / 2, 3), std::bad_alloc);
    EXPECT_EQ(batch_bytes(0, 3), 0u);
    EXPECT_EQ(batch_bytes(4, 3), 12u);
}

}  // namespace
}  // namespace vornex
