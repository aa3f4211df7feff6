// MatchingDecoder's own refusals: the syndrome length, and which shot an
// undecodable batch reports (the engine's text itself is asserted with the
// engine).
#include "matching/matching_decoder.h"

#include <gtest/gtest.h>

#include "dem/dem_reader.h"

namespace vornex {
namespace {

using Bytes = std::vector<uint8_t>;

// Three checks in a ring of three qubits: no boundary, so a part with an odd
// number of fired checks has no explanation.
const CheckList kRing{{0, 2}, {0, 1}, {1, 2}};

std::string no_matching(int event) {
    return "no perfect matching: detection event " + std::to_string(event) +
           " lies in a part of the graph with an odd number of events and no boundary";
}

TEST(MatchingDecoder, LengthTextIsExact) {
    const auto dec = MatchingDecoder::create({{0, 1}, {1, 2}}, 3, std::nullopt).value();
    EXPECT_TRUE(dec.check_syndrome_length(2).ok());
    EXPECT_EQ(dec.check_syndrome_length(0).error().message, "syndrome has 0 bytes, expected n_checks = 2");
    const auto three = dec.decode(Bytes{0, 0, 0});
    ASSERT_FALSE(three.ok());
    EXPECT_EQ(three.error().kind, ErrorKind::Value);
    EXPECT_EQ(three.error().message, "syndrome has 3 bytes, expected n_checks = 2");
}

TEST(MatchingDecoder, BatchNamesItsEarliestUndecodableShot) {
    const auto ring = MatchingDecoder::create(kRing, 3, std::nullopt).value();
    EXPECT_EQ(ring.decode(Bytes{0, 1, 0}).error().message, no_matching(1));
    // Shots 1 and 3 cannot be decoded; shot 1 is named, with its own event.
    const Bytes rows{1, 1, 0, 0, 0, 1, 1, 1, 0, 1, 0, 0};
    const auto batch = ring.batch_decode(rows, 4);
    ASSERT_FALSE(batch.ok());
    EXPECT_EQ(batch.error().kind, ErrorKind::Value);
    EXPECT_EQ(batch.error().message, "shot 1: " + no_matching(2));
    EXPECT_EQ(ring.batch_decode(Bytes{1, 1, 0, 0, 0, 0}, 2).value(), (Bytes{1, 0, 0, 0, 0, 0}));
}

TEST(MatchingDecoder, PredictionsReportTheEarliestUndecodableShotInEitherPacking) {
    const auto model = read_detector_error_model("error(0.1) D0 D2 L0\nerror(0.1) D0 D1\nerror(0.1) D1 D2").value();
    const auto dec = MatchingDecoder::from_model(model).value();
    // Shots 2 (event 1) and 3 (event 0) cannot be decoded.
    const Bytes bytes{1, 1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0};
    const Bytes packed{0b011, 0b000, 0b010, 0b001};
    for (const bool parallel : {false, true}) {
        for (const auto& [rows, bit_packed] : {std::pair{bytes, false}, std::pair{packed, true}}) {
            const auto out = dec.predict_observables(rows, 4, bit_packed, parallel);
            ASSERT_FALSE(out.ok()) << bit_packed << parallel;
            EXPECT_EQ(out.error().kind, ErrorKind::Value);
            EXPECT_EQ(out.error().message, no_matching(1)) << bit_packed << parallel;
        }
    }
}

}  // namespace
}  // namespace vornex
