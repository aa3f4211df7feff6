#include "dem/dem_reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

#include "base/wyrand.h"
#include "dem/dem_syntax.h"

namespace vornex {
namespace {

DetectorErrorModel read_ok(std::string_view text, const DemReaderLimits& limits = {}) {
    auto model = read_detector_error_model(text, limits);
    EXPECT_TRUE(model.ok()) << (model.ok() ? "" : model.error().message);
    return model.ok() ? std::move(model).value() : DetectorErrorModel{};
}

std::string read_error(std::string_view text, const DemReaderLimits& limits = {}) {
    auto model = read_detector_error_model(text, limits);
    EXPECT_FALSE(model.ok()) << text;
    return model.ok() ? "" : model.error().message;
}

uint32_t D(uint32_t id) { return id; }
uint32_t L(uint32_t id) { return id | kObservableTarget; }
constexpr uint32_t kSep = kSeparatorTarget;

std::vector<uint32_t> targets(const DetectorErrorModel& m, size_t column) {
    auto t = m.targets_of(column);
    return {t.begin(), t.end()};
}

TEST(DemReader, EveryInstructionFlattened) {
    const auto m = read_ok(
        "# a model with every instruction\n"
        "error(0.125) D0 D3 ^ D7 L0   # trailing comment\n"
        "detector(1, 2, 0) D0\n"
        "logical_observable L2\n"
        "\n"
        "REPEAT 2 {\n"
        "    error[a tag](0.25) D0 d1\n"
        "    shift_detectors(0, 0, 1) 2\n"
        "    repeat 2 {\n"
        "        detector(3, 4, 0) D1\n"
        "        shift_detectors 1\n"
        "    }\n"
        "}\n"
        "error(1e-3) L1\r\n"
        "error(0) D9\n"
        "error(0.5)\n");
    EXPECT_EQ(m.num_detectors, 18u);  // D9 after the block's shifts of 8 is D17, and counts though p = 0
    EXPECT_EQ(m.num_observables, 3u);
    ASSERT_EQ(m.num_errors(), 6u);
    EXPECT_EQ(m.probability, (std::vector<double>{0.125, 0.25, 0.25, 1e-3, 0.0, 0.5}));
    EXPECT_EQ(m.line, (std::vector<uint32_t>{2, 7, 7, 14, 15, 16}));
    EXPECT_EQ(targets(m, 0), (std::vector<uint32_t>{D(0), D(3), kSep, D(7), L(0)}));
    EXPECT_EQ(targets(m, 1), (std::vector<uint32_t>{D(0), D(1)}));
    // The first pass shifted by 2 + 1 + 1.
    EXPECT_EQ(targets(m, 2), (std::vector<uint32_t>{D(4), D(5)}));
    EXPECT_EQ(targets(m, 3), (std::vector<uint32_t>{L(1)}));
    EXPECT_TRUE(targets(m, 5).empty());
    // Coordinates get the accumulated shift; detectors 3, 4, 7, 8 via D1.
    EXPECT_EQ(m.coordinate_detector, (std::vector<uint32_t>{0, 3, 4, 7, 8}));
    EXPECT_EQ(m.coordinate_values, (std::vector<double>{1, 2, 0, 3, 4, 1, 3, 4, 1, 3, 4, 2, 3, 4, 2}));
}

TEST(DemReader, CoordinateShiftsAndRepeatedDeclarations) {
    // Shifts longer than the coordinates only shift the dimensions given;
    // a detector declared twice keeps its first coordinates.
    const auto m = read_ok("shift_detectors(1, 2, 3) 0\ndetector(1) D0\ndetector(5, 5, 5, 5) D0\ndetector D2\n");
    EXPECT_EQ(m.coordinate_detector, (std::vector<uint32_t>{0, 2}));
    EXPECT_EQ(m.coordinate_begin, (std::vector<uint32_t>{0, 1, 1}));
    EXPECT_EQ(m.coordinate_values, (std::vector<double>{2}));
    EXPECT_EQ(m.num_detectors, 3u);
}

TEST(DemReader, NumbersAsWrittenByTheUsualTools) {
    const auto m = read_ok(
        "error(0.001931182734310662227) D0\nerror(6.669779853440971351e-05) D0\nerror(.5) D0\n"
        "error(1e-400) D0\nerror( 0.25 ) D0\ndetector(-1.5, 2e3) D1\n");
    EXPECT_EQ(m.probability, (std::vector<double>{0.001931182734310662227, 6.669779853440971351e-05, 0.5, 0.0, 0.25}));
    EXPECT_EQ(m.coordinate_values, (std::vector<double>{-1.5, 2000}));
}

TEST(DemReader, EmptyRepeatAndEmptyText) {
    EXPECT_EQ(read_ok("repeat 0 {\n error(0.1) D5\n}\n").num_errors(), 0u);
    const auto m = read_ok("");
    EXPECT_EQ(m.num_detectors, 0u);
    EXPECT_EQ(m.target_begin, (std::vector<uint32_t>{0}));
    EXPECT_EQ(m.coordinate_begin, (std::vector<uint32_t>{0}));
}

TEST(DemReader, MalformedTextNamesTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"error(0.1) D0\nerorr(0.1) D1", "line 2: unknown instruction 'erorr'"},
        {"error(1.5) D0", "line 1: 'error' probability 1.500000 is outside [0, 1]"},
        {"error(-0.1) D0", "line 1: 'error' probability -0.100000 is outside [0, 1]"},
        {"error(0.1, 0.2) D0", "line 1: 'error' takes one probability argument, got 2"},
        {"error D0", "line 1: 'error' takes one probability argument, got 0"},
        {"error(nan) D0", "line 1: expected a number, got 'nan'"},
        {"error(inf) D0", "line 1: expected a number, got 'inf'"},
        {"error(0x1p-3) D0", "line 1: expected a number, got '0x1p-3'"},
        {"detector(1e400) D0", "line 1: number '1e400' is out of range"},
        {"error(0.1 D0", "line 1: expected ',' or ')' in the arguments, got 'D0'"},
        {"error(0.1)D0", "line 1: targets must be separated by spaces near 'D0'"},
        {"error(0.1) D0L1", "line 1: targets must be separated by spaces near 'L1'"},
        {"error(0.1) ^ D0", "line 1: '^' must stand between targets of 'error'"},
        {"error(0.1) D0 ^", "line 1: '^' must stand between targets of 'error'"},
        {"error(0.1) D0 ^ ^ D1", "line 1: 'error' has adjacent separators '^ ^'"},
        {"error(0.1) D0 5", "line 1: 'error' takes detector (D#), observable (L#) and '^' targets only"},
        {"error(0.1) D-1", "line 1: expected a detector id, got '-1'"},
        {"error(0.1) X3", "line 1: unexpected target 'X3'"},
        {"error(0.1) D2147483648", "line 1: a detector id is too large (must be below 2147483648)"},
        {"error(0.1) D184467440737095516161", "line 1: a detector id is too large (must be below 2147483648)"},
        // 2^64 + 2 would wrap to 2 in 64 bits.
        {"repeat 18446744073709551618 {\n}", "line 1: a count is too large (must be below 4611686018427387903)"},
        {"shift_detectors 18446744073709551616", "line 1: a count is too large (must be below 4611686018427387903)"},
        {"detector(1) L0", "line 1: 'detector' takes exactly one detector target (D#)"},
        {"detector D0 D1", "line 1: 'detector' takes exactly one detector target (D#)"},
        {"logical_observable(1) L0", "line 1: 'logical_observable' takes no arguments"},
        {"logical_observable D0", "line 1: 'logical_observable' takes exactly one observable target (L#)"},
        {"shift_detectors(1)", "line 1: 'shift_detectors' takes exactly one count target"},
        {"repeat 2\n{\n}", "line 1: 'repeat' must end its line with '{'"},
        {"repeat {\n}", "line 1: 'repeat' takes exactly one count followed by '{'"},
        {"repeat 2 { error(0.1) D0 }", "line 1: unexpected 'error(0.1) D0 }' after '{'"},
        {"error(0.1) D0 {", "line 1: '{' only opens a repeat block"},
        {"error(0.1) D0\n}", "line 2: '}' without an open repeat block"},
        {"} D0", "line 1: unexpected 'D0' after '}'"},
        {"error(0.1) D0\nrepeat 3 {\n  error(0.1) D0\n", "line 2: repeat block is never closed with '}'"},
        {"error[unclosed(0.1) D0", "line 1: tag '[' is never closed with ']'"},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(read_error(text), message) << text;
}

TEST(DemReader, RefusesModelsThatUnrollBeyondTheLimits) {
    // Three nested blocks of a million describe 10^18 errors: refused at once.
    // The message names the innermost block that is already too large.
    EXPECT_EQ(read_error("repeat 1000000 {\nrepeat 1000000 {\nrepeat 1000000 {\nerror(0.1) D0\n}\n}\n}"),
              "line 2: the model unrolls to more than 134217728 instructions, arguments and targets; it is too large "
              "to flatten");
    // An empty body is not free to spin through.
    EXPECT_FALSE(read_detector_error_model("repeat 4611686018427387903 {\n}").ok());
    DemReaderLimits small;
    small.max_unrolled = 100;
    EXPECT_TRUE(read_detector_error_model("repeat 20 {\nerror(0.1) D0\n}", small).ok());
    EXPECT_EQ(read_error("error(0.1) D0\nrepeat 40 {\nerror(0.1) D0\n}", small),
              "line 2: the model unrolls to more than 100 instructions, arguments and targets; it is too large to "
              "flatten");
    small.max_detectors = 10;
    small.max_observables = 2;
    EXPECT_EQ(read_error("repeat 5 {\nerror(0.1) D0\nshift_detectors 3\n}", small),
              "line 2: detector D12 is beyond the limit of 10 detectors");
    EXPECT_EQ(read_error("logical_observable L2", small), "line 1: observable L2 is beyond the limit of 2 observables");
    std::string deep;
    for (size_t i = 0; i <= kDemMaxNesting; ++i) deep += "repeat 1 {\n";
    EXPECT_EQ(read_error(deep), "line 257: repeat blocks nest deeper than 256");
}

// Random nested models printed as text, with the flattened result computed
// alongside by a plain recursive expansion of the same tree.
struct Expected {
    std::vector<double> probability;
    std::vector<std::vector<uint32_t>> targets;
    uint32_t num_detectors = 0;
    uint32_t num_observables = 0;
};

class RandomModel {
public:
    explicit RandomModel(uint64_t seed) : rng_(seed) {}

    void block(int depth, std::vector<std::string>& body) {
        const int n = static_cast<int>(rng_.next_u64() % 5);
        for (int i = 0; i < n; ++i) {
            const uint64_t kind = rng_.next_u64() % (depth < 3 ? 5 : 4);
            if (kind <= 1) {
                std::string line = "error(" + number(rng_.next_unit()) + ")";
                const int k = static_cast<int>(rng_.next_u64() % 5);
                for (int t = 0; t < k; ++t) {
                    if (t > 0 && t < k - 1 && rng_.next_u64() % 4 == 0) line += " ^";
                    line += rng_.next_u64() % 4 ? " D" + std::to_string(rng_.next_u64() % 6)
                                                : " L" + std::to_string(rng_.next_u64() % 3);
                }
                body.push_back(line);
            } else if (kind == 2) {
                body.push_back("shift_detectors " + std::to_string(rng_.next_u64() % 3));
            } else if (kind == 3) {
                body.push_back("logical_observable L" + std::to_string(rng_.next_u64() % 4));
            } else {
                std::vector<std::string> inner;
                block(depth + 1, inner);
                body.push_back("repeat " + std::to_string(rng_.next_u64() % 4) + " {");
                body.insert(body.end(), inner.begin(), inner.end());
                body.push_back("}");
            }
        }
    }

    static std::string number(double x) {
        char buf[40];
        return std::string(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
    }

private:
    Wyrand rng_;
};

// Plain expansion of the printed lines [begin, end): repeat blocks copied
// out, offsets applied while walking.
void expand(const std::vector<std::string>& lines, size_t begin, size_t end, uint64_t& offset, Expected& out) {
    for (size_t i = begin; i < end; ++i) {
        const std::string& line = lines[i];
        if (line.rfind("repeat ", 0) == 0) {
            size_t close = i + 1;
            for (int depth = 1; depth; ++close) depth += lines[close] == "}" ? -1 : (lines[close].back() == '{');
            --close;
            for (uint64_t k = std::stoull(line.substr(7)); k > 0; --k) expand(lines, i + 1, close, offset, out);
            i = close;
            continue;
        }
        if (line.rfind("shift_detectors ", 0) == 0) offset += std::stoull(line.substr(16));
        if (line.rfind("logical_observable L", 0) == 0)
            out.num_observables = std::max(out.num_observables, static_cast<uint32_t>(std::stoul(line.substr(20)) + 1));
        if (line.rfind("error(", 0) != 0) continue;
        const size_t close = line.find(')');
        out.probability.push_back(std::stod(line.substr(6, close - 6)));
        std::vector<uint32_t> t;
        for (size_t p = close + 1; p < line.size(); ++p) {
            if (line[p] == '^') t.push_back(kSep);
            if (line[p] != 'D' && line[p] != 'L') continue;
            const auto id = static_cast<uint32_t>(std::stoul(line.substr(p + 1)));
            if (line[p] == 'D') {
                t.push_back(static_cast<uint32_t>(id + offset));
                out.num_detectors = std::max(out.num_detectors, static_cast<uint32_t>(id + offset + 1));
            } else {
                t.push_back(L(id));
                out.num_observables = std::max(out.num_observables, id + 1);
            }
        }
        out.targets.push_back(t);
    }
}

TEST(DemReader, RandomNestedModelsMatchAPlainExpansion) {
    for (uint64_t seed = 0; seed < 2000; ++seed) {
        RandomModel gen(seed);
        std::vector<std::string> lines;
        gen.block(0, lines);
        std::string text;
        for (const auto& line : lines) text += line + "\n";
        Expected expected;
        uint64_t offset = 0;
        expand(lines, 0, lines.size(), offset, expected);

        const auto m = read_ok(text);
        ASSERT_EQ(m.num_errors(), expected.probability.size()) << text;
        EXPECT_EQ(m.probability, expected.probability) << text;
        EXPECT_EQ(m.num_detectors, expected.num_detectors) << text;
        EXPECT_EQ(m.num_observables, expected.num_observables) << text;
        for (size_t c = 0; c < m.num_errors(); ++c) ASSERT_EQ(targets(m, c), expected.targets[c]) << text;
    }
}

TEST(DemModel, ColumnSetsCancelRepeatedTargets) {
    const auto m = read_ok("error(0.1) D3 D0 D3 D3 ^ D0 L1 L1 L0");
    std::vector<uint32_t> ids;
    column_detectors(m, 0, ids);
    EXPECT_EQ(ids, (std::vector<uint32_t>{3}));
    column_observables(m, 0, ids);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0}));
}

}  // namespace
}  // namespace vornex
