#include "server/model_tool.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "dem/dem_reader.h"
#include "dem/model_prediction.h"
#include "matching/matching_decoder.h"
#include "server/tools.h"
#include "uf/decoder.h"
#include "uf/weighted_decoder.h"

namespace vornex {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// A repetition code's model: a chain of detectors, each end on the
// boundary, the observable on the left end, probabilities varying along it.
std::string chain_model(size_t n) {
    std::string text = "error(0.1) D0 L0\n";
    for (size_t d = 0; d + 1 < n; ++d)
        text += "error(" + std::to_string(0.02 + 0.01 * static_cast<double>(d % 7)) + ") D" + std::to_string(d) +
                " D" + std::to_string(d + 1) + "\n";
    return text + "error(0.1) D" + std::to_string(n - 1) + "\n";
}

Result<json> call(const ordered_json& arguments, ProgressSink* progress = nullptr) {
    return call_tool(ordered_json{{"name", "predict_observables"}, {"arguments", arguments}}, progress);
}

json output_of(const ordered_json& arguments) {
    auto r = call(arguments);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message);
    if (!r) return json();
    EXPECT_FALSE(r.value().contains("isError")) << r.value().dump();
    return r.value().value("structuredContent", json());
}

std::string failure_of(const ordered_json& arguments) {
    auto r = call(arguments);
    EXPECT_TRUE(r.ok()) << arguments.dump();
    if (!r) return "";
    EXPECT_EQ(r.value().value("isError", false), true) << r.value().dump();
    return r.value().at("content").at(0).value("text", "");
}

std::string malformed_of(const ordered_json& arguments) {
    auto r = call(arguments);
    EXPECT_FALSE(r.ok()) << arguments.dump();
    return r.ok() ? "" : r.error().message;
}

template <class Decoder>
std::vector<uint8_t> direct_predictions(const std::string& text, const std::vector<uint8_t>& events, size_t n_shots) {
    auto decoder = Decoder::from_model(read_detector_error_model(text).value());
    return predict_observables(decoder.value(), events, n_shots, false, false).value();
}

// The tool answers what each family's own predictions say, in both shot
// forms, across chunk boundaries.
TEST(McpPredictTool, AgreesWithEachFamilyInBothShotForms) {
    constexpr size_t kDetectors = 1500, kShots = 800;  // more shots than fit in one chunk
    const std::string text = chain_model(kDetectors);
    std::mt19937 rng(5);
    std::vector<uint8_t> events(kDetectors * kShots);
    ordered_json rows = ordered_json::array(), lists = ordered_json::array();
    for (size_t s = 0; s < kShots; ++s) {
        ordered_json row = ordered_json::array(), fired = ordered_json::array();
        for (size_t d = 0; d < kDetectors; ++d) {
            events[s * kDetectors + d] = rng() % 50 == 0;
            row.push_back(events[s * kDetectors + d]);
            if (events[s * kDetectors + d]) fired.push_back(d);
        }
        rows.push_back(std::move(row));
        lists.push_back(std::move(fired));
    }
    const std::pair<const char*, std::vector<uint8_t>> families[] = {
        {"matching", direct_predictions<MatchingDecoder>(text, events, kShots)},
        {"uf", direct_predictions<UnionFindDecoder>(text, events, kShots)},
        {"weighted_uf", direct_predictions<WeightedUnionFindDecoder>(text, events, kShots)},
    };
    for (const auto& [family, expected] : families) {
        json want = json::array();
        uint64_t flips = 0;
        for (uint8_t p : expected) {
            want.push_back(json::array({p}));
            flips += p;
        }
        ASSERT_GT(flips, 10u);
        for (const char* form : {"detection_events", "fired_detectors"}) {
            const json out = output_of({{"detector_error_model", text},
                                        {form, std::string(form) == "fired_detectors" ? lists : rows},
                                        {"decoder", family}});
            EXPECT_EQ(out.at("predictions"), want) << family << " " << form;
            EXPECT_EQ(out.at("observable_flips"), json::array({flips}));
            EXPECT_EQ(out.at("decoder"), family);
            EXPECT_EQ(out.at("num_detectors"), kDetectors);
            EXPECT_EQ(out.at("num_observables"), 1);
            EXPECT_EQ(out.at("num_shots"), kShots);
        }
    }
    // The default family is exact matching; a lone detector by the
    // observable's end flips it.
    const json one = output_of({{"detector_error_model", chain_model(5)}, {"fired_detectors", json::parse("[[0],[],[4]]")}});
    EXPECT_EQ(one.at("decoder"), "matching");
    EXPECT_EQ(one.at("predictions"), json::parse("[[1],[0],[0]]"));
    // Older names and sinter's name choose the family, which answers by its one name.
    for (const char* name : {"union_find", "vornex_uf"})
        EXPECT_EQ(output_of({{"detector_error_model", chain_model(5)}, {"fired_detectors", json::parse("[[0]]")},
                             {"decoder", name}})
                      .at("decoder"),
                  "uf");
}

TEST(McpPredictTool, MalformedArgumentsAreInvalidParams) {
    const std::string text = chain_model(3);
    const std::pair<ordered_json, const char*> cases[] = {
        {{{"fired_detectors", {{0}}}}, "Missing or invalid detector_error_model"},
        {{{"detector_error_model", 7}, {"fired_detectors", {{0}}}}, "Missing or invalid detector_error_model"},
        {{{"detector_error_model", std::string(kMaxToolModelBytes + 1, ' ')}, {"fired_detectors", {{0}}}},
         "detector_error_model may hold at most 1048576 bytes, got 1048577"},
        {{{"detector_error_model", text}}, "Give exactly one of detection_events and fired_detectors"},
        {{{"detector_error_model", text}, {"fired_detectors", {{0}}}, {"detection_events", {{1, 0, 0}}}},
         "Give exactly one of detection_events and fired_detectors"},
        {{{"detector_error_model", text}, {"detection_events", {{1, 2, 0}}}}, "Missing or invalid detection_events"},
        {{{"detector_error_model", text}, {"detection_events", {1, 0, 0}}}, "Missing or invalid detection_events"},
        {{{"detector_error_model", text}, {"fired_detectors", {{-1}}}}, "Missing or invalid fired_detectors"},
        {{{"detector_error_model", text}, {"fired_detectors", {{131072}}}}, "Missing or invalid fired_detectors"},
        {{{"detector_error_model", text}, {"fired_detectors", "0"}}, "Missing or invalid fired_detectors"},
        {{{"detector_error_model", text}, {"fired_detectors", ordered_json(std::vector<std::vector<int>>(10001))}},
         "fired_detectors may hold at most 10000 shots, got 10001"},
        {{{"detector_error_model", text}, {"fired_detectors", {{0}}}, {"decoder", "blossom"}},
         R"(decoder must be one of matching, uf, weighted_uf, matching_correlated, relay_bp, got "blossom")"},
    };
    for (const auto& [arguments, message] : cases) EXPECT_EQ(malformed_of(arguments), message) << arguments.dump();
}

TEST(McpPredictTool, FailuresOfWellFormedCallsAreErrorResults) {
    const std::string text = chain_model(3);
    EXPECT_EQ(failure_of({{"detector_error_model", text}, {"detection_events", {{1, 0, 0}, {1, 0}}}}),
              "detection_events[1] holds 2 values; the model has 3 detectors");
    EXPECT_EQ(failure_of({{"detector_error_model", text}, {"fired_detectors", json::parse("[[0],[],[3]]")}}),
              "fired_detectors[2] names detector 3; the model has 3 detectors");
    EXPECT_EQ(failure_of({{"detector_error_model", "error(0.1) D0\nfrobnicate D1\n"}, {"fired_detectors", {{0}}}}),
              read_detector_error_model("error(0.1) D0\nfrobnicate D1\n").error().message);
    EXPECT_EQ(failure_of({{"detector_error_model", "error(0.1) L0\n"}, {"fired_detectors", {{0}}}}),
              "the model has no detectors");
    // The model's own bounds, beyond what a decoder of this server builds.
    EXPECT_EQ(failure_of({{"detector_error_model", "error(0.1) D131072\n"}, {"fired_detectors", json::array()}}),
              "line 1: detector D131072 is beyond the limit of 131072 detectors");
    EXPECT_EQ(failure_of({{"detector_error_model", "error(0.1) D0 L64\n"}, {"fired_detectors", json::array()}}),
              "line 1: observable L64 is beyond the limit of 64 observables");
    EXPECT_NE(failure_of({{"detector_error_model", "repeat 1000000000 {\nerror(0.1) D0\n}\n"},
                          {"fired_detectors", json::array()}})
                  .find("too large to flatten"),
              std::string::npos);
    // The family's refusal of the model (a hyperedge) is passed on as it reads.
    const std::string hyper = "error(0.1) D0 D1 D2\n";
    EXPECT_EQ(failure_of({{"detector_error_model", hyper}, {"fired_detectors", {{0}}}, {"decoder", "uf"}}),
              UnionFindDecoder::from_model(read_detector_error_model(hyper).value()).error().message);
}

class Recorder final : public ProgressSink {
public:
    explicit Recorder(size_t stop_after) : stop_after_(stop_after) {}
    bool report(uint64_t done, uint64_t total) override {
        reports.emplace_back(done, total);
        return reports.size() <= stop_after_;
    }
    std::vector<std::pair<uint64_t, uint64_t>> reports;

private:
    size_t stop_after_;
};

// Progress between chunks; a sink that says stop ends the call there.
TEST(McpPredictTool, ReportsProgressAndStopsWhenAsked) {
    const ordered_json arguments = {{"detector_error_model", chain_model(4096)},
                                    {"fired_detectors", ordered_json(std::vector<std::vector<int>>(2000))}};
    Recorder all(SIZE_MAX);
    ASSERT_TRUE(call(arguments, &all).ok());
    ASSERT_EQ(all.reports.size(), 8u);  // 256 shots of 4,096 detectors a chunk
    for (size_t i = 0; i < all.reports.size(); ++i) EXPECT_EQ(all.reports[i], std::make_pair(uint64_t{256} * i, uint64_t{2000}));

    Recorder stopping(2);
    auto r = call(arguments, &stopping);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value().at("content").at(0).at("text"), kCancelledText);
    EXPECT_EQ(stopping.reports.size(), 3u);
}

}  // namespace
}  // namespace vornex
