#include "server/mcp_server.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace vornex {
namespace {

using nlohmann::json;

std::string answer(std::string_view line) {
    auto a = answer_line(line);
    EXPECT_TRUE(a.has_value()) << line;
    return a.value_or("");
}

json tool_output(const std::string& response) {
    const json r = json::parse(response);
    return json::parse(r.at("result").at("content").at(0).at("text").get<std::string>());
}

std::string call(const std::string& tool, const std::string& arguments) {
    return answer(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":")" + tool +
                  R"(","arguments":)" + arguments + "}}");
}

std::string error_of(int code, const std::string& message, const std::string& id = "1") {
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"error":{"code":)" + std::to_string(code) + R"(,"message":)" +
           json(message).dump() + "}}";
}

TEST(McpRequests, ParseFormsAndFailures) {
    EXPECT_EQ(answer(R"({"jsonrpc":"2.0","id":1,"method":"nope"})"), error_of(-32601, "Method not found: nope"));
    // Array form, with any id kept as given (member order included).
    EXPECT_EQ(answer(R"(["2.0",{"b":1,"a":2},"nope",null])"),
              error_of(-32601, "Method not found: nope", R"({"b":1,"a":2})"));
    EXPECT_EQ(answer(R"({"method":"nope","jsonrpc":"1.0","id":null})"),
              error_of(-32601, "Method not found: nope", "null"));

    const std::pair<const char*, const char*> bad[] = {
        {R"({"jsonrpc":"2.0","id":1})", "Parse error: missing field `method`"},
        {R"({"id":1,"method":"x"})", "Parse error: missing field `jsonrpc`"},
        {R"({"jsonrpc":"2.0","method":7})", "Parse error: invalid type: integer, expected a string for `method`"},
        {R"(["2.0",1,"ping"])", "Parse error: invalid length 3, expected struct JsonRpcRequest with 4 elements"},
        {R"("text")", "Parse error: invalid type: string, expected struct JsonRpcRequest"},
    };
    for (const auto& [line, message] : bad) EXPECT_EQ(answer(line), error_of(-32700, message, "null")) << line;

    for (const char* line : {"nope", R"({"jsonrpc":"2.0","method":"ping"} x)", R"({"jsonrpc":"2.0")", "{}{}"}) {
        const json r = json::parse(answer(line));
        EXPECT_TRUE(r.at("id").is_null());
        EXPECT_EQ(r.at("error").at("code"), -32700);
        EXPECT_TRUE(r.at("error").at("message").get<std::string>().starts_with("Parse error: ")) << line;
    }
}

TEST(McpRequests, DeepNestingIsRefusedNotRecursed) {
    const std::string deep = R"({"jsonrpc":"2.0","method":"x","id":)" + std::string(100000, '[') +
                             std::string(100000, ']') + "}";
    EXPECT_EQ(answer(deep), error_of(-32700, "Parse error: recursion limit exceeded", "null"));
    const std::string fine = R"({"jsonrpc":"2.0","method":"x","id":)" + std::string(100, '[') +
                             std::string(100, ']') + "}";
    EXPECT_EQ(json::parse(answer(fine)).at("error").at("code"), -32601);
}

TEST(McpRequests, NotificationsGetNoReply) {
    for (std::string_view line : {R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
                                  R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":3}})",
                                  R"({"jsonrpc":"2.0","method":"notifications/unknown"})",
                                  R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"nothing"}})"})
        EXPECT_FALSE(answer_line(line).has_value()) << line;
    // With an id they are requests, answered as before; a broken line still
    // gets its parse error.
    EXPECT_EQ(answer(R"({"jsonrpc":"2.0","id":5,"method":"notifications/initialized"})"),
              R"({"jsonrpc":"2.0","id":5,"result":null})");
    EXPECT_EQ(json::parse(answer(R"({"method":"notifications/initialized"})")).at("error").at("code"), -32700);
}

TEST(McpRequests, BlankLinesAreSkipped) {
    for (std::string_view line : {"", " \t", "\xc2\xa0\xe3\x80\x80", "\xe2\x80\xa8"})
        EXPECT_FALSE(answer_line(line).has_value());
    EXPECT_TRUE(answer_line("\xc2\xa0x").has_value());
}

TEST(McpRequests, FixedResults) {
    EXPECT_EQ(answer(R"({"jsonrpc":"2.0","id":4,"method":"ping"})"), R"({"jsonrpc":"2.0","id":4,"result":{}})");
    const std::string server_info = R"({"name":"vornex-mcp","version":"0.6.6"})";
    const auto initialized = [&](const std::string& version) {
        return R"({"jsonrpc":"2.0","id":2,"result":{"capabilities":{"tools":{}},"protocolVersion":")" + version +
               R"(","protocol_version":")" + version + R"(","serverInfo":)" + server_info +
               R"(,"server_info":)" + server_info + "}}";
    };
    // A version the server speaks is echoed; anything else gets the newest.
    EXPECT_EQ(answer(R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":{"protocolVersion":"2024-11-05"}})"),
              initialized("2024-11-05"));
    EXPECT_EQ(answer(R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})"),
              initialized("2025-06-18"));
    for (const char* params : {R"({"protocolVersion":"1999"})", R"({"protocolVersion":7})",
                               R"({"protocol_version":"2024-11-05"})", "null", "[]"})
        EXPECT_EQ(answer(std::string(R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":)") + params + "}"),
                  initialized("2025-11-25"))
            << params;
    const json tools = json::parse(answer(R"({"jsonrpc":"2.0","id":3,"method":"tools/list"})")).at("result").at("tools");
    ASSERT_EQ(tools.size(), 3u);
    EXPECT_EQ(tools[0].at("name"), "decode_syndrome");
    EXPECT_EQ(tools[1].at("inputSchema").at("required"), json::array({"check_to_qubits"}));
    EXPECT_EQ(tools[2].at("inputSchema").dump(), R"({"properties":{},"type":"object"})");
    EXPECT_EQ(tools[0].at("inputSchema").at("properties").at("check_to_qubits").dump(),
              R"({"items":{"items":{"type":"integer"},"type":"array"},"type":"array"})");
}

TEST(McpTools, ToolFailuresAreInvalidParams) {
    EXPECT_EQ(answer(R"({"jsonrpc":"2.0","id":1,"method":"tools/call"})"), error_of(-32602, "Unknown tool: "));
    EXPECT_EQ(answer(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":[1]})"),
              error_of(-32602, "Unknown tool: "));
    EXPECT_EQ(call("frobnicate", "{}"), error_of(-32602, "Unknown tool: frobnicate"));
    const std::pair<const char*, const char*> cases[] = {
        {R"({"syndrome":[1]})", "Missing or invalid check_to_qubits"},
        {R"({"check_to_qubits":[[0,-1]],"syndrome":[1]})", "Missing or invalid check_to_qubits"},
        {R"({"check_to_qubits":[[0,4294967296]],"syndrome":[1]})", "Missing or invalid check_to_qubits"},
        {R"({"check_to_qubits":[[0,1.0]],"syndrome":[1]})", "Missing or invalid check_to_qubits"},
        {R"({"check_to_qubits":[0],"syndrome":[1]})", "Missing or invalid check_to_qubits"},
        {R"({"check_to_qubits":[[0,1]]})", "Missing or invalid syndrome"},
        {R"({"check_to_qubits":[[0,1]],"syndrome":[256]})", "Missing or invalid syndrome"},
        {R"({"check_to_qubits":[[0,1]],"syndrome":"1"})", "Missing or invalid syndrome"},
        {R"({"check_to_qubits":[[0,1],[1,2]],"syndrome":[1]})",
         "assertion `left == right` failed: Syndrome length must match n_checks\n  left: 1\n right: 2"},
    };
    for (const auto& [arguments, message] : cases)
        EXPECT_EQ(call("decode_syndrome", arguments), error_of(-32602, message)) << arguments;
    EXPECT_EQ(call("decode_syndrome", "null"), error_of(-32602, "Missing or invalid check_to_qubits"));
    EXPECT_EQ(call("benchmark_decoder", R"({"check_to_qubits":[[0,1]],"n_samples":0})"),
              error_of(-32602, "n_samples must be >= 1"));
}

TEST(McpTools, DecodeBenchmarkAndInfoOutputs) {
    const std::string decoded = call("decode_syndrome", R"({"check_to_qubits":[[0,1],[1,2]],"syndrome":[1,0]})");
    const json out = tool_output(decoded);
    EXPECT_EQ(out.at("n_checks"), 2);
    EXPECT_EQ(out.at("n_qubits"), 3);
    EXPECT_EQ(out.at("correction"), json::array({1, 0, 0}));
    EXPECT_EQ(json::parse(decoded).at("result").at("content").at(0).at("type"), "text");

    // A fractional n_qubits falls back to the derived count.
    EXPECT_EQ(tool_output(call("decode_syndrome", R"({"check_to_qubits":[[0,1]],"syndrome":[1],"n_qubits":4.5})"))
                  .at("n_qubits"),
              2);
    EXPECT_EQ(tool_output(call("decode_syndrome", R"({"check_to_qubits":[[0,1]],"syndrome":[1],"n_qubits":6})"))
                  .at("n_qubits"),
              6);

    const json bench = tool_output(call("benchmark_decoder", R"({"check_to_qubits":[[0,1],[1,2]],"seed":-1})"));
    EXPECT_EQ(bench.at("n_samples"), 1000);
    EXPECT_EQ(bench.size(), 9u);
    EXPECT_EQ(bench.begin().key(), "latency_max_us");
    EXPECT_EQ(bench.at("version"), "0.6.6");

    const std::string info = call("get_decoder_info", "7");
    EXPECT_EQ(tool_output(info).dump(),
              R"({"capabilities":["decode","batch_decode","parallel_batch_decode","benchmark"],)"
              R"("decoder_types":["UnionFind","FastUnionFind","Blossom","SlidingWindow","Streaming"],)"
              R"("version":"0.6.6"})");
}

// Every tool's text is exactly the library's own indented form of the object
// it holds, whether the decode text is written by hand or dumped.
TEST(McpTools, OutputTextsAreTheStandardIndentedForm) {
    const auto text_of = [](const std::string& response) {
        return json::parse(response).at("result").at("content").at(0).at("text").get<std::string>();
    };
    const std::string codes[] = {
        R"({"check_to_qubits":[[0]],"syndrome":[1]})",
        R"({"check_to_qubits":[[0,1],[1,2]],"syndrome":[1,1]})",
        R"({"check_to_qubits":[[0,1],[1,2],[2,3],[3,4]],"syndrome":[1,0,0,1],"n_qubits":12})",
        R"({"check_to_qubits":[[3]],"syndrome":[0]})",
    };
    for (const std::string& arguments : codes) {
        const std::string text = text_of(call("decode_syndrome", arguments));
        EXPECT_EQ(json::parse(text).dump(2), text) << arguments;
    }
    for (const char* tool : {"benchmark_decoder", "get_decoder_info"}) {
        const std::string text = text_of(call(tool, R"({"check_to_qubits":[[0,1]],"n_samples":2})"));
        EXPECT_EQ(json::parse(text).dump(2), text) << tool;
    }
}

// Runs serve_lines over pipes with `input` and returns (status, output).
std::pair<Status, std::string> serve(const std::string& input) {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(in[1]);
    Status st = serve_lines(in[0], out[1], nullptr);
    close(in[0]);
    close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    return {std::move(st), text};
}

TEST(McpServe, LinesCarriageReturnsAndEndOfInput) {
    const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
    const std::string reply = R"({"jsonrpc":"2.0","id":1,"result":{}})" "\n";
    const std::string initialized = R"({"jsonrpc":"2.0","method":"notifications/initialized"})";
    auto [st, out] = serve(ping + "\r\n" + initialized + "\n\n   \n" + ping);  // last line has no line feed
    EXPECT_TRUE(st.ok());
    EXPECT_EQ(out, reply + reply);

    auto [empty_st, empty_out] = serve("");
    EXPECT_TRUE(empty_st.ok());
    EXPECT_EQ(empty_out, "");

    // Lines before a non-UTF-8 line are answered; that line ends the server.
    auto [bad_st, bad_out] = serve(ping + "\n\xff\n" + ping + "\n");
    ASSERT_FALSE(bad_st.ok());
    EXPECT_EQ(bad_st.error().kind, ErrorKind::Runtime);
    EXPECT_EQ(bad_st.error().message, "IO error: stream did not contain valid UTF-8");
    EXPECT_EQ(bad_out, reply);
}

TEST(McpServe, UnwritableOutputEndsWithIoError) {
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    const std::string line = "x\n";
    ASSERT_EQ(write(in[1], line.data(), line.size()), 2);
    close(in[1]);
    close(out[0]);
    const Status st = serve_lines(in[0], out[1], nullptr);
    close(in[0]);
    close(out[1]);
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error().message, "IO error: Broken pipe");
}

}  // namespace
}  // namespace vornex
