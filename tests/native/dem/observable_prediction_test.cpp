#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wyrand.h"
#include "code/check_graph.h"
#include "common/model_texts.h"
#include "dem/dem_code.h"
#include "dem/dem_reader.h"
#include "dem/shot_rows.h"
#include "uf/uf_core.h"

namespace vornex {
namespace {

DemCode code_of(std::string_view text) {
    auto graph = build_dem_graph(read_detector_error_model(text).value());
    auto code = dem_code_from_graph(graph.value());
    EXPECT_TRUE(code.ok());
    return std::move(code).value();
}

using testing::repetition_model;

TEST(DemCode, ChecksPerDetectorWithPlaceholdersForUntouchedDetectors) {
    const auto code = code_of("error(0.1) D0 D2 L0\nerror(0.2) D2\ndetector D3\n");
    // Edges: (0, 2) = column 0, (2, boundary) = column 1; D1 and D3 get placeholders 2 and 3.
    EXPECT_EQ(code.check_to_qubits, (CheckList{{0}, {2, 2}, {0, 1}, {3, 3}}));
    EXPECT_EQ(code.n_qubits, 4u);
    EXPECT_EQ(code.weights[2], code.weights[0]);
    EXPECT_EQ(code.observables->map.num_columns(), 4u);
    EXPECT_TRUE(build_check_graph(code.check_to_qubits, code.n_qubits).ok());
    auto none = dem_code_from_graph(build_dem_graph(read_detector_error_model("error(0.1) L0").value()).value());
    EXPECT_EQ(none.error().message, "the model has no detectors; there is nothing to decode");
}

TEST(ObservableMap, AppliesTheFlipsOfSetColumns) {
    const std::vector<uint32_t> begin{0, 2, 2, 3, 5};
    const std::vector<uint32_t> observables{0, 9, 9, 1, 9};
    const ObservableMap map(10, begin, observables);
    Wyrand rng(3);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<uint8_t> correction(4);
        for (auto& c : correction) c = static_cast<uint8_t>(rng.next_u64() % 4);  // bit 0 decides
        std::vector<uint8_t> expected(10, 0), got(10, 0);
        for (size_t c = 0; c < 4; ++c)
            if (correction[c] & 1)
                for (uint32_t i = begin[c]; i < begin[c + 1]; ++i) expected[observables[i]] ^= 1;
        map.apply(correction, got);
        EXPECT_EQ(got, expected);
    }
}

TEST(ShotRows, PackingRoundTripsInLittleBitOrder) {
    const std::vector<uint8_t> bits{1, 0, 0, 0, 0, 0, 0, 1, 1, 1};
    std::vector<uint8_t> packed(2, 0xFF);
    pack_bits(bits.data(), bits.size(), packed.data());
    EXPECT_EQ(packed, (std::vector<uint8_t>{0x81, 0x03}));
    packed[1] |= 0xF0;  // padding is ignored when reading
    std::vector<uint8_t> back(bits.size());
    unpack_bits(packed.data(), bits.size(), back.data());
    EXPECT_EQ(back, bits);
}

// Every single edge flip decodes (by Union-Find on the model's code) to that
// edge's observables, through every layout of the batch driver.
TEST(ShotRows, UnionFindPredictionsAgreeAcrossLayoutsAndThreads) {
    const auto dem_graph = build_dem_graph(read_detector_error_model(repetition_model()).value()).value();
    const auto code = dem_code_from_graph(dem_graph).value();
    const auto graph = build_check_graph(code.check_to_qubits, code.n_qubits).value();
    const size_t n_det = code.check_to_qubits.size();
    auto make_predictor = [&] {
        return [&, workspace = UfWorkspace{}, correction = std::vector<uint8_t>(code.n_qubits)](
                   std::span<const uint8_t> events, std::span<uint8_t> observables) mutable {
            decode_into(graph, events, workspace, correction);
            code.observables->map.apply(correction, observables);
        };
    };
    // Random sparse shots plus every single edge flip.
    Wyrand rng(7);
    std::vector<uint8_t> shots;
    for (size_t column = 0; column < code.n_qubits; ++column) {
        std::vector<uint8_t> row(n_det, 0);
        for (uint32_t d = 0; d < n_det; ++d)
            for (uint32_t q : code.check_to_qubits[d]) row[d] ^= q == column;
        shots.insert(shots.end(), row.begin(), row.end());
    }
    for (int s = 0; s < 300; ++s)
        for (size_t d = 0; d < n_det; ++d) shots.push_back(rng.next_u64() % 7 == 0);
    const size_t n_shots = shots.size() / n_det;

    std::vector<uint8_t> plain(n_shots);
    ASSERT_TRUE(predict_observable_rows(shots.data(), {n_det, false}, n_shots, plain.data(), {1, false}, false,
                                        make_predictor).ok());
    size_t flips = 0;
    for (size_t column = 0; column < code.n_qubits; ++column) {
        EXPECT_EQ(plain[column], dem_graph.observables_of(column).size()) << column;
        flips += plain[column];
    }
    EXPECT_EQ(flips, 3u);  // the three boundary edges of detector 4r carry L0

    std::vector<uint8_t> packed_in(n_shots * ((n_det + 7) / 8));
    for (size_t s = 0; s < n_shots; ++s) pack_bits(&shots[s * n_det], n_det, &packed_in[s * ((n_det + 7) / 8)]);
    for (bool parallel : {false, true}) {
        std::vector<uint8_t> from_packed(n_shots), packed_out(n_shots);
        ASSERT_TRUE(predict_observable_rows(packed_in.data(), {n_det, true}, n_shots, from_packed.data(), {1, false},
                                            parallel, make_predictor).ok());
        ASSERT_TRUE(predict_observable_rows(shots.data(), {n_det, false}, n_shots, packed_out.data(), {1, true},
                                            parallel, make_predictor).ok());
        EXPECT_EQ(from_packed, plain);
        EXPECT_EQ(packed_out, plain);  // one observable: the packed byte is the bit
    }
}

// Quiet shots never reach the predictor and predict nothing; the others do.
TEST(ShotRows, ShotsWithoutEventsSkipTheDecoder) {
    const size_t n_det = 11, n_obs = 10;
    std::vector<uint8_t> shots(6 * n_det, 0);
    shots[1 * n_det + 10] = 1;
    shots[4 * n_det + 0] = 1;
    std::vector<uint8_t> packed(6 * 2);
    for (size_t s = 0; s < 6; ++s) pack_bits(&shots[s * n_det], n_det, &packed[s * 2]);
    size_t calls = 0;
    auto make = [&] {
        return [&](std::span<const uint8_t>, std::span<uint8_t> observables) {
            ++calls;
            std::fill(observables.begin(), observables.end(), uint8_t{1});
        };
    };
    for (bool packed_in : {false, true}) {
        for (bool packed_out : {false, true}) {
            calls = 0;
            const size_t width = packed_out ? 2 : n_obs;
            std::vector<uint8_t> out(6 * width, 0xAB);
            ASSERT_TRUE(predict_observable_rows(packed_in ? packed.data() : shots.data(), {n_det, packed_in}, 6,
                                                out.data(), {n_obs, packed_out}, false, make).ok());
            EXPECT_EQ(calls, 2u);
            for (size_t s = 0; s < 6; ++s) {
                const bool fired = s == 1 || s == 4;
                std::vector<uint8_t> expected(n_obs, fired);
                if (packed_out) {
                    std::vector<uint8_t> bytes(2);
                    pack_bits(expected.data(), n_obs, bytes.data());
                    expected = bytes;
                }
                EXPECT_EQ(std::vector<uint8_t>(out.begin() + s * width, out.begin() + (s + 1) * width), expected);
            }
        }
    }
}

TEST(ShotRows, BytesOtherThanZeroOrOneAreRefusedNamingTheFirst) {
    std::vector<uint8_t> shots(1000 * 3, 0);
    shots[700 * 3 + 2] = 2;
    shots[400 * 3 + 1] = 255;
    std::vector<uint8_t> out(1000);
    auto make = [] { return [](std::span<const uint8_t>, std::span<uint8_t>) {}; };
    for (bool parallel : {false, true}) {
        EXPECT_EQ(predict_observable_rows(shots.data(), {3, false}, 1000, out.data(), {1, false}, parallel, make)
                      .error()
                      .message,
                  "detection events must be 0 or 1; shot 400 has 255 at detector 1");
    }
}

}  // namespace
}  // namespace vornex
