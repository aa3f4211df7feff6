#include "server/hosted_tool.h"

#include <gtest/gtest.h>

#include "server/mcp_server.h"
#include "server/tools.h"

namespace vornex {
namespace {

using nlohmann::json;
using Kind = HostedToolOutcome::Kind;

// A host's tool that answers what its arguments ask for, reporting twice.
HostedTools echo_tool() {
    HostedTool tool;
    tool.listing = {{"name", "echo"}, {"description", "d"}};
    tool.run = [](const std::string& arguments, ProgressSink& progress) -> HostedToolOutcome {
        const json a = json::parse(arguments);
        if (!progress.report(0, 2) || !progress.report(1, 2)) return {Kind::Failure, kCancelledText};
        return {a.at("kind").get<Kind>(), a.at("text").get<std::string>()};
    };
    return {tool};
}

Result<json> call(const HostedTools& tools, Kind kind, const std::string& text, ProgressSink* progress = nullptr) {
    const nlohmann::ordered_json params = {{"name", "echo"}, {"arguments", {{"kind", kind}, {"text", text}}}};
    return call_tool(params, progress, &tools);
}

TEST(McpHostedTools, ListedAfterTheServersOwnAndCalledByName) {
    const HostedTools tools = echo_tool();
    const json listed = json::parse(answer_request({"2.0", 1, true, "tools/list", nullptr}, nullptr, &tools));
    ASSERT_EQ(listed.at("result").at("tools").size(), 6u);
    EXPECT_EQ(listed.at("result").at("tools")[5], tools[0].listing);
    // Without the host's tools the name is unknown.
    EXPECT_EQ(call_tool({{"name", "echo"}}).error().message, "Unknown tool: echo");

    const json out = call(tools, Kind::Output, R"({"b": [1, 2], "a": "x"})").value();
    EXPECT_EQ(out.at("content")[0].at("text"), R"({"a":"x","b":[1,2]})");
    EXPECT_EQ(out.at("structuredContent"), json::parse(R"({"a":"x","b":[1,2]})"));
    EXPECT_EQ(call(tools, Kind::Malformed, "x must be 1").error().message, "x must be 1");
    const auto failure = [&](Kind kind, const std::string& text) {
        const json r = call(tools, kind, text).value();
        EXPECT_EQ(r.at("isError"), true);
        return r.at("content")[0].at("text").get<std::string>();
    };
    EXPECT_EQ(failure(Kind::Failure, "it broke"), "it broke");
    for (const char* not_an_object : {"[1]", "nope", ""})
        EXPECT_EQ(failure(Kind::Output, not_an_object), "the tool's output is not a JSON object") << not_an_object;
}

class StopAt final : public ProgressSink {
public:
    explicit StopAt(uint64_t at) : at_(at) {}
    bool report(uint64_t done, uint64_t) override { return done < at_; }

private:
    uint64_t at_;
};

// The caller's sink reaches the tool (a stand-in that never stops when the
// caller passes none).
TEST(McpHostedTools, ProgressReachesTheTool) {
    const HostedTools tools = echo_tool();
    StopAt stop(1);
    EXPECT_EQ(call(tools, Kind::Output, "{}", &stop).value().at("content")[0].at("text"), kCancelledText);
    EXPECT_FALSE(call(tools, Kind::Output, "{}").value().contains("isError"));
}

}  // namespace
}  // namespace vornex
