#include "server/mcp_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <poll.h>
#include <thread>
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
    // The limit is exact (the request object and 127 arrays in it are fine,
    // one more is not), brackets in strings do not count, and a syntax
    // error before the deep part is reported as such.
    const auto nested = [](size_t arrays, const std::string& before) {
        return R"({"jsonrpc":"2.0","method":"x",)" + before + R"("id":)" + std::string(arrays, '[') +
               std::string(arrays, ']') + "}";
    };
    EXPECT_EQ(json::parse(answer(nested(127, ""))).at("error").at("code"), -32601);
    EXPECT_EQ(answer(nested(128, "")), error_of(-32700, "Parse error: recursion limit exceeded", "null"));
    const std::string brackets = R"("params":"\"[[)" + std::string(300, '[') + R"(",)";
    EXPECT_EQ(json::parse(answer(nested(127, brackets))).at("error").at("code"), -32601);
    EXPECT_EQ(answer(nested(128, brackets)), error_of(-32700, "Parse error: recursion limit exceeded", "null"));
    const json syntax = json::parse(answer(nested(500, R"("params":tru,)")));
    EXPECT_NE(syntax.at("error").at("message").get<std::string>().find("syntax error"), std::string::npos) << syntax;
}

// Answers are written as text without a response object; they must read
// exactly as the dump of the response object with the same values.
TEST(McpRequests, AnswersWrittenAsTextEqualTheResponseObjectsDump) {
    HostedTool awkward;
    awkward.listing = {{"name", "awkward"}};
    awkward.run = [](const std::string&, ProgressSink&) {
        return HostedToolOutcome{
            HostedToolOutcome::Kind::Output,
            R"({"z":1,"s":"quote\" back\\ nl\n tab\t ctrl\u0001 \u00e9 \ud83d\ude00","a":[{"y":2,"b":null}]})"};
    };
    const HostedTools hosted{awkward};
    const std::string lines[] = {
        R"({"jsonrpc":"2.0","id":{"b":1,"a":[2]},"method":"initialize","params":{"protocolVersion":"2025-06-18"}})",
        R"({"jsonrpc":"2.0","id":"p","method":"ping"})",
        R"({"jsonrpc":"2.0","id":3,"method":"tools/list"})",
        R"({"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"decode_syndrome","arguments":)"
        R"({"check_to_qubits":[[0,1],[1,2]],"syndrome":[1,0]}}})",
        R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"decode_syndrome","arguments":)"
        R"({"check_to_qubits":[[0,1],[1,2]],"syndrome":[1]}}})",
        R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"predict_observables","arguments":)"
        R"({"detector_error_model":"error(0.1) D0 L0\nerror(0.1) D0 D1\nerror(0.1) D1","fired_detectors":[[0],[1],[]]}}})",
        R"({"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"name":"get_decoder_info"}})",
        R"({"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"awkward"}})",
        R"({"jsonrpc":"2.0","id":9,"method":"notifications/initialized"})",
    };
    for (const std::string& line : lines) {
        LineAction action = read_request_line(line);
        ASSERT_TRUE(action.request) << line;
        const std::string text = answer_request(*action.request, nullptr, &hosted);
        const nlohmann::ordered_json read = nlohmann::ordered_json::parse(text);
        EXPECT_EQ(text, compact(result_response(read.at("id"), json(read.at("result"))))) << line;
    }
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
    ASSERT_EQ(tools.size(), 5u);
    EXPECT_EQ(tools[0].at("name"), "decode_syndrome");
    EXPECT_EQ(tools[1].at("inputSchema").at("required"), json::array({"check_to_qubits"}));
    EXPECT_EQ(tools[2].at("inputSchema").dump(), R"({"properties":{},"type":"object"})");
    EXPECT_EQ(tools[3].at("name"), "predict_observables");
    EXPECT_EQ(tools[4].at("name"), "list_decoder_families");
}

TEST(McpTools, UnknownToolsAndMalformedArgumentsAreInvalidParams) {
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
        // Sizes beyond the documented bounds are refused before anything is built.
        {R"({"check_to_qubits":[[0,536870912]],"syndrome":[1]})",
         "qubit index 536870912 in check_to_qubits is above the limit of 1048575"},
        {R"({"check_to_qubits":[[1048576]],"syndrome":[1]})",
         "qubit index 1048576 in check_to_qubits is above the limit of 1048575"},
        {R"({"check_to_qubits":[[0,1]],"syndrome":[1],"n_qubits":-3})",
         "n_qubits must be an integer in [0, 1048576], got -3"},
        {R"({"check_to_qubits":[[0,1]],"syndrome":[1],"n_qubits":1048577})",
         "n_qubits must be an integer in [0, 1048576], got 1048577"},
        {R"({"check_to_qubits":[[0,1]],"syndrome":[1],"n_qubits":4.5})",
         "n_qubits must be an integer in [0, 1048576], got 4.5"},
        {R"({"check_to_qubits":[[0,1]],"syndrome":[1],"n_qubits":"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"})",
         R"(n_qubits must be an integer in [0, 1048576], got "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...)"},
    };
    for (const auto& [arguments, message] : cases)
        EXPECT_EQ(call("decode_syndrome", arguments), error_of(-32602, message)) << arguments;
    EXPECT_EQ(call("decode_syndrome", "null"), error_of(-32602, "Missing or invalid check_to_qubits"));
    const std::pair<const char*, const char*> benchmark_cases[] = {
        {R"("n_samples":0)", "n_samples must be an integer in [1, 1000000], got 0"},
        {R"("n_samples":-5)", "n_samples must be an integer in [1, 1000000], got -5"},
        {R"("n_samples":1000001)", "n_samples must be an integer in [1, 1000000], got 1000001"},
        {R"("n_samples":2e6)", "n_samples must be an integer in [1, 1000000], got 2000000.0"},
        {R"("seed":-1)", "seed must be an integer in [0, 18446744073709551615], got -1"},
        {R"("n_qubits":[1])", "n_qubits must be an integer in [0, 1048576], got [1]"},
    };
    for (const auto& [argument, message] : benchmark_cases)
        EXPECT_EQ(call("benchmark_decoder", std::string(R"({"check_to_qubits":[[0,1]],)") + argument + "}"),
                  error_of(-32602, message))
            << argument;
}

// The result of a call that was well formed but failed.
std::string failure_of(const std::string& message) {
    return R"({"jsonrpc":"2.0","id":1,"result":{"content":[{"text":)" + json(message).dump() +
           R"(,"type":"text"}],"isError":true}})";
}

TEST(McpTools, FailuresOfWellFormedCallsAreErrorResults) {
    // The Python class's texts: a short syndrome, a byte that is not a bit.
    EXPECT_EQ(call("decode_syndrome", R"({"check_to_qubits":[[0,1],[1,2]],"syndrome":[1]})"),
              failure_of("Syndrome length (1) does not match n_checks (2)"));
    EXPECT_EQ(call("decode_syndrome", R"({"check_to_qubits":[[0,1],[1,2]],"syndrome":[0,2]})"),
              error_of(-32602, "syndrome values must be 0 or 1; syndrome[1] is 2"));
    // The decoder's own construction message (a qubit beyond the declared count).
    const json built = json::parse(call("decode_syndrome", R"({"check_to_qubits":[[0,5]],"syndrome":[1],"n_qubits":2})"));
    EXPECT_EQ(built.at("result").at("isError"), true);
    EXPECT_FALSE(built.at("result").contains("structuredContent"));
    const std::string message = built.at("result").at("content").at(0).at("text");
    EXPECT_NE(message.find("5"), std::string::npos) << message;
    // null stands for an absent optional argument.
    EXPECT_EQ(tool_output(call("decode_syndrome", R"({"check_to_qubits":[[0,1]],"syndrome":[1],"n_qubits":null})"))
                  .at("n_qubits"),
              2);
}

TEST(McpTools, DecodeBenchmarkAndInfoOutputs) {
    const std::string decoded = call("decode_syndrome", R"({"check_to_qubits":[[0,1],[1,2]],"syndrome":[1,0]})");
    const json out = tool_output(decoded);
    EXPECT_EQ(out.at("n_checks"), 2);
    EXPECT_EQ(out.at("n_qubits"), 3);
    EXPECT_EQ(out.at("correction"), json::array({1, 0, 0}));
    EXPECT_EQ(json::parse(decoded).at("result").at("content").at(0).at("type"), "text");
    EXPECT_EQ(tool_output(call("decode_syndrome", R"({"check_to_qubits":[[0,1]],"syndrome":[1],"n_qubits":6})"))
                  .at("n_qubits"),
              6);

    const json bench = tool_output(call("benchmark_decoder", R"({"check_to_qubits":[[0,1],[1,2]],"seed":7})"));
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

// Every output is compact text on one line, and the same object is the
// structured content.
TEST(McpTools, OutputTextIsCompactAndMatchesStructuredContent) {
    const std::string calls[][2] = {
        {"decode_syndrome", R"({"check_to_qubits":[[0]],"syndrome":[1]})"},
        {"decode_syndrome", R"({"check_to_qubits":[[0,1],[1,2],[2,3],[3,4]],"syndrome":[1,0,0,1],"n_qubits":12})"},
        {"benchmark_decoder", R"({"check_to_qubits":[[0,1]],"n_samples":2})"},
        {"get_decoder_info", "{}"},
        {"list_decoder_families", "{}"},
    };
    for (const auto& [tool, arguments] : calls) {
        const json result = json::parse(call(tool, arguments)).at("result");
        const std::string text = result.at("content").at(0).at("text");
        EXPECT_EQ(json::parse(text).dump(), text) << tool;
        EXPECT_EQ(json::parse(text), result.at("structuredContent")) << tool;
        EXPECT_FALSE(result.contains("isError"));
    }
    EXPECT_EQ(json::parse(call("decode_syndrome", R"({"check_to_qubits":[[0,1],[1,2]],"syndrome":[1,1]})"))
                  .at("result").at("content").at(0).at("text"),
              R"({"correction":[0,1,0],"n_checks":2,"n_qubits":3})");
}

// Every input property is described and bounded where it is a number, and
// every output object lists what a result holds.
TEST(McpTools, SchemasDescribeEveryPropertyAndTheirBounds) {
    const json tools = json::parse(answer(R"({"jsonrpc":"2.0","id":3,"method":"tools/list"})")).at("result").at("tools");
    for (const json& tool : tools) {
        for (const char* schema : {"inputSchema", "outputSchema"}) {
            ASSERT_EQ(tool.at(schema).at("type"), "object") << tool.at("name");
            for (const auto& [name, property] : tool.at(schema).at("properties").items()) {
                EXPECT_FALSE(property.value("description", "").empty()) << tool.at("name") << " " << name;
                if (schema == std::string("inputSchema") && property.at("type") == "integer") {
                    EXPECT_TRUE(property.contains("minimum") && property.contains("maximum")) << name;
                }
            }
        }
        EXPECT_EQ(tool.at("outputSchema").at("required").size(), tool.at("outputSchema").at("properties").size());
    }
    EXPECT_EQ(tools[1].at("inputSchema").at("properties").at("n_samples").at("maximum"), 1000000);
    EXPECT_EQ(tools[0].at("inputSchema").at("properties").at("check_to_qubits").at("items").at("items").at("maximum"),
              1048575);
}

// Runs serve_lines over pipes with `input` (written by a second thread, so
// that any amount fits) and returns (status, output).
std::pair<Status, std::string> serve(const std::string& input, const ServeLimits& limits = {}) {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    std::thread writer([&] {
        for (size_t done = 0; done < input.size();) {
            const ssize_t n = write(in[1], input.data() + done, input.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(in[1]);
    });
    std::string text;
    std::thread reader([&] {
        char buf[65536];
        for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    });
    Status st = serve_lines(in[0], out[1], nullptr, limits);
    close(out[1]);
    writer.join();
    reader.join();
    close(in[0]);
    close(out[0]);
    return {std::move(st), text};
}

const std::string kPing = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
const std::string kPong = R"({"jsonrpc":"2.0","id":1,"result":{}})" "\n";

TEST(McpServe, LinesCarriageReturnsAndEndOfInput) {
    const std::string initialized = R"({"jsonrpc":"2.0","method":"notifications/initialized"})";
    auto [st, out] = serve(kPing + "\r\n" + initialized + "\n\n   \n" + kPing);  // last line has no line feed
    EXPECT_TRUE(st.ok());
    EXPECT_EQ(out, kPong + kPong);

    auto [empty_st, empty_out] = serve("");
    EXPECT_TRUE(empty_st.ok());
    EXPECT_EQ(empty_out, "");
}

// A line that is not UTF-8 gets a parse error and the server reads on.
TEST(McpServe, InvalidUtf8IsAParseErrorAndReadingGoesOn) {
    const std::string bad[] = {"\xff", "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"p\xc3\"}", "\xed\xa0\x80", "ab\xc0\xaf"};
    const std::string where[] = {"1", "36", "1", "3"};
    for (size_t i = 0; i < std::size(bad); ++i) {
        auto [st, out] = serve(kPing + "\n" + bad[i] + "\n" + kPing + "\n");
        EXPECT_TRUE(st.ok());
        EXPECT_EQ(out, kPong + error_of(-32700, "Parse error: invalid UTF-8 at byte " + where[i] + " of the line", "null") +
                           "\n" + kPong)
            << i;
    }
}

// A line over the cap is answered without being held, at any split of the
// input into reads; a line exactly at the cap is read.
TEST(McpServe, OverlongLinesAreAnsweredAndSkipped) {
    ServeLimits limits;
    limits.max_line_bytes = 64;
    const std::string too_long = error_of(-32600, "Invalid request: a request line may hold at most 64 bytes", "null") + "\n";
    const std::string at_cap = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":)" + std::string(14, '1') + "}";
    ASSERT_EQ(at_cap.size(), 64u);
    auto [st, out] = serve(kPing + "\n" + std::string(1 << 20, 'x') + "\n" + at_cap + "\n" + at_cap + "1\n" + kPing,
                           limits);
    EXPECT_TRUE(st.ok());
    EXPECT_EQ(out, kPong + too_long + kPong + too_long + kPong);
}

// Pipelined requests of every kind are answered in arrival order, one
// answer per request with an id.
TEST(McpServe, PipelinedRequestsAreAnsweredInOrder) {
    std::string input, expected;
    for (int i = 0; i < 3000; ++i) {
        const std::string id = std::to_string(i);
        switch (i % 4) {
            case 0:
                input += R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"ping"})";
                expected += R"({"jsonrpc":"2.0","id":)" + id + R"(,"result":{}})";
                break;
            case 1:
                input += R"({"jsonrpc":"2.0","id":)" + id +
                         R"(,"method":"tools/call","params":{"name":"decode_syndrome","arguments":{"check_to_qubits":[[0,1],[1,2]],"syndrome":[0,1]}}})";
                expected += R"({"jsonrpc":"2.0","id":)" + id +
                            R"(,"result":{"content":[{"text":"{\"correction\":[0,0,1],\"n_checks\":2,\"n_qubits\":3}","type":"text"}],"structuredContent":{"correction":[0,0,1],"n_checks":2,"n_qubits":3}}})";
                break;
            case 2:
                input += R"({"jsonrpc":"2.0","method":"notifications/initialized"})" "\n{";
                expected += error_of(-32700, "Parse error: syntax error while parsing object key - unexpected end of input; expected string literal at line 1, column 2", "null");
                break;
            default:
                input += R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":"nope"})";
                expected += error_of(-32601, "Method not found: nope", id);
        }
        input += "\n";
        expected += "\n";
    }
    ServeLimits small_queue;
    small_queue.max_waiting_requests = 4;
    for (const ServeLimits& limits : {ServeLimits{}, small_queue}) {
        auto [st, out] = serve(input, limits);
        EXPECT_TRUE(st.ok());
        EXPECT_EQ(out, expected);
    }
}

// A server on live pipes: lines go in one at a time and answers are read as
// they come.
class LiveServer {
public:
    LiveServer() {
        EXPECT_EQ(pipe(in_), 0);
        EXPECT_EQ(pipe(out_), 0);
        thread_ = std::thread([this] { status_ = serve_lines(in_[0], out_[1], nullptr); });
    }
    ~LiveServer() {
        close(in_[1]);
        thread_.join();
        close(in_[0]);
        close(out_[1]);
        close(out_[0]);
    }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        EXPECT_EQ(write(in_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // The next output line, or "" after 60 s without one.
    std::string next_line() {
        for (;;) {
            if (const size_t nl = buffer_.find('\n'); nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            pollfd p{out_[0], POLLIN, 0};
            if (poll(&p, 1, 60000) <= 0) return "";
            char buf[4096];
            const ssize_t n = read(out_[0], buf, sizeof buf);
            if (n <= 0) return "";
            buffer_.append(buf, static_cast<size_t>(n));
        }
    }
    // The next line that is not a progress notification; those are counted.
    std::string next_answer(int& progress_lines) {
        for (;;) {
            std::string line = next_line();
            if (line.find(R"("method":"notifications/progress")") == std::string::npos) return line;
            ++progress_lines;
        }
    }

private:
    int in_[2], out_[2];
    std::string buffer_;
    Status status_ = ok_status();
    std::thread thread_;
};

std::string long_benchmark(int id, const std::string& meta) {
    return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
           R"(,"method":"tools/call","params":{"name":"benchmark_decoder",)" + meta +
           R"("arguments":{"check_to_qubits":[[0,1],[1,2],[2,3],[3,4],[4,5],[5,6],[6,7],[7,8]],"n_samples":1000000}}})";
}

TEST(McpServe, CancellationStopsRunningAndWaitingCallsWithProgressBeforeIt) {
    LiveServer server;
    server.send(long_benchmark(5, R"("_meta":{"progressToken":"t5"},)"));
    const json first = json::parse(server.next_line());
    EXPECT_EQ(first.at("method"), "notifications/progress");
    EXPECT_EQ(first.at("params").at("progressToken"), "t5");
    EXPECT_EQ(first.at("params").at("total"), 1000000);
    EXPECT_LT(first.at("params").at("progress"), 1000000);
    const int64_t first_progress = first.at("params").at("progress");
    const json second = json::parse(server.next_line());
    EXPECT_GT(second.at("params").at("progress").get<int64_t>(), first_progress);

    // Waiting behind the running call: a ping, and a call cancelled before it starts.
    server.send(R"({"jsonrpc":"2.0","id":6,"method":"ping"})");
    server.send(long_benchmark(7, ""));
    server.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":7}})");
    server.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":"5"}})");  // not its id
    const auto sent = std::chrono::steady_clock::now();
    server.send(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":5,"reason":"x"}})");
    int progress_lines = 0;
    EXPECT_EQ(server.next_answer(progress_lines), error_of(-32800, "Request cancelled", "5"));
    // The full run takes far longer than this bound.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(5));
    EXPECT_EQ(server.next_answer(progress_lines), R"({"jsonrpc":"2.0","id":6,"result":{}})");
    EXPECT_EQ(server.next_answer(progress_lines), error_of(-32800, "Request cancelled", "7"));
    // A call without a progress token gets no notifications.
    server.send(R"({"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"benchmark_decoder","arguments":{"check_to_qubits":[[0,1]],"n_samples":20000}}})");
    progress_lines = 0;
    EXPECT_EQ(json::parse(server.next_answer(progress_lines)).at("id"), 8);
    EXPECT_EQ(progress_lines, 0);
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
