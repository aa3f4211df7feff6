#include "server/line_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wyrand.h"

namespace vornex {
namespace {

struct Line {
    std::string text;
    bool too_long;
    bool operator==(const Line&) const = default;
};

// The plain split of the whole input: line feeds end lines, a carriage
// return before one is dropped, a line longer than the cap is flagged.
std::vector<Line> reference_lines(const std::string& input, size_t cap) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < input.size()) {
        size_t nl = input.find('\n', start);
        const bool ended = nl != std::string::npos;
        if (!ended) nl = input.size();
        std::string text = input.substr(start, nl - start);
        const bool too_long = text.size() > cap;
        if (!too_long && !text.empty() && text.back() == '\r') text.pop_back();
        lines.push_back({too_long ? "" : text, too_long});
        start = nl + 1;
    }
    return lines;
}

std::vector<Line> framed_lines(const std::string& input, size_t cap, Wyrand& rng) {
    std::vector<Line> lines;
    LineFramer framer(cap);
    const LineSink sink = [&](std::string_view text, bool too_long) {
        lines.push_back({std::string(text), too_long});
        return ok_status();
    };
    for (size_t at = 0; at < input.size();) {
        const size_t n = std::min<size_t>(input.size() - at, 1 + rng.next_u64() % 40);
        EXPECT_TRUE(framer.feed(std::string_view(input).substr(at, n), sink).ok());
        at += n;
    }
    EXPECT_TRUE(framer.finish(sink).ok());
    return lines;
}

TEST(LineFramer, MatchesThePlainSplitAtAnyChunking) {
    Wyrand rng(11);
    const char alphabet[] = {'a', 'b', '\n', '\r', ' '};
    for (int round = 0; round < 2000; ++round) {
        std::string input(rng.next_u64() % 120, ' ');
        for (char& c : input) c = alphabet[rng.next_u64() % std::size(alphabet)];
        const size_t cap = rng.next_u64() % 12;
        EXPECT_EQ(framed_lines(input, cap, rng), reference_lines(input, cap)) << input << " cap " << cap;
    }
}

TEST(LineFramer, AnErrorFromTheSinkStopsFraming) {
    LineFramer framer(100);
    int calls = 0;
    const Status st = framer.feed("a\nb\nc\n", [&](std::string_view, bool) -> Status {
        ++calls;
        return runtime_error("stop");
    });
    EXPECT_FALSE(st.ok());
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace vornex
