// The family behind BPOSDDecoder: its own refusals on the engine path (the
// defined decoder's and the engine's texts are asserted in their tests).
#include "bp/bp_osd_family.h"

#include <gtest/gtest.h>

namespace vornex {
namespace {

const CheckList kChain{{0, 1}, {1, 2}};

// Any setting away from the defined decoder's selects the engine.
BpOsdOptions engine_options() {
    BpOsdOptions options;
    options.settings.bp.stop = BpStop::Syndrome;
    return options;
}

TEST(BpOsdFamily, ErrorRateIsCheckedOnlyWhenItBecomesThePrior) {
    const auto bad = BpOsdFamily::create(kChain, std::nullopt, 1.5, engine_options());
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().kind, ErrorKind::Value);
    EXPECT_EQ(bad.error().message, "error_rate must be in [0, 1] when settings are given");
    // A per-qubit channel replaces the rate, so the rate is not read.
    BpOsdOptions with_channel = engine_options();
    with_channel.error_channel = std::vector<double>{0.1, 0.1, 0.1};
    EXPECT_TRUE(BpOsdFamily::create(kChain, std::nullopt, 1.5, with_channel).ok());
}

TEST(BpOsdFamily, EngineLengthTextIsExact) {
    auto family = BpOsdFamily::create(kChain, std::nullopt, 0.1, engine_options()).value();
    const std::vector<uint8_t> three(3, 0);
    for (const auto& error : {family.decode(three).error(), family.decode_timed(three, 1.0).error(),
                              family.bp_decode(three, 5).error()}) {
        EXPECT_EQ(error.kind, ErrorKind::Value);
        EXPECT_EQ(error.message, "Syndrome length 3 != n_checks 2");
    }
    EXPECT_EQ(family.decode({}).error().message, "Syndrome length 0 != n_checks 2");
}

}  // namespace
}  // namespace vornex
