#include "server/mcp_server.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unistd.h>
#include <vector>

#include "bench/benchmark.h"
#include "matching/blossom.h"
#include "uf/decoder.h"

namespace vornex {
namespace {

using Json = nlohmann::json;  // built values: members sorted by key
using OrderedJson = nlohmann::ordered_json;

constexpr const char* kProtocolVersion = "2024-11-05";
constexpr uint64_t kServerBenchmarkSamples = 1000;

struct TooDeep {};

const char* kind_of(const OrderedJson& v) {
    switch (v.type()) {
        case OrderedJson::value_t::null: return "null";
        case OrderedJson::value_t::boolean: return "boolean";
        case OrderedJson::value_t::number_integer:
        case OrderedJson::value_t::number_unsigned: return "integer";
        case OrderedJson::value_t::number_float: return "floating point";
        case OrderedJson::value_t::string: return "string";
        case OrderedJson::value_t::array: return "sequence";
        case OrderedJson::value_t::object: return "map";
        default: return "value";
    }
}

// "[json.exception.parse_error.101] parse error at line 1, column 4: what"
// becomes "what at line 1, column 4".
std::string parser_description(const char* what) {
    std::string text = what;
    if (const size_t close = text.find("] "); text.starts_with("[json.exception.") && close != std::string::npos)
        text.erase(0, close + 2);
    constexpr std::string_view kAt = "parse error at ";
    if (text.starts_with(kAt)) {
        const size_t colon = text.find(": ", kAt.size());
        if (colon != std::string::npos)
            return text.substr(colon + 2) + " at " + text.substr(kAt.size(), colon - kAt.size());
    }
    return text;
}

Result<std::string> string_member(const OrderedJson& v, const char* field) {
    if (!v.is_string())
        return value_error(std::string("invalid type: ") + kind_of(v) + ", expected a string for `" + field + "`");
    return v.get<std::string>();
}

Result<JsonRpcRequest> request_from_array(OrderedJson& v) {
    if (v.size() != 4)
        return value_error("invalid length " + std::to_string(v.size()) +
                           ", expected struct JsonRpcRequest with 4 elements");
    JsonRpcRequest request;
    auto jsonrpc = string_member(v[0], "jsonrpc");
    if (!jsonrpc) return jsonrpc.error();
    auto method = string_member(v[2], "method");
    if (!method) return method.error();
    request.jsonrpc = std::move(jsonrpc.value());
    request.id = std::move(v[1]);
    request.method = std::move(method.value());
    request.params = std::move(v[3]);
    return request;
}

Result<JsonRpcRequest> request_from_object(OrderedJson& v) {
    for (const char* field : {"jsonrpc", "method"})
        if (!v.contains(field)) return value_error(std::string("missing field `") + field + "`");
    JsonRpcRequest request;
    auto jsonrpc = string_member(v["jsonrpc"], "jsonrpc");
    if (!jsonrpc) return jsonrpc.error();
    auto method = string_member(v["method"], "method");
    if (!method) return method.error();
    request.jsonrpc = std::move(jsonrpc.value());
    request.method = std::move(method.value());
    if (auto it = v.find("id"); it != v.end()) request.id = std::move(*it);
    if (auto it = v.find("params"); it != v.end()) request.params = std::move(*it);
    return request;
}

OrderedJson response(const OrderedJson& id) {
    OrderedJson r;
    r["jsonrpc"] = "2.0";
    r["id"] = id;
    return r;
}

OrderedJson error_response(const OrderedJson& id, int code, std::string message) {
    OrderedJson r = response(id);
    OrderedJson error;
    error["code"] = code;
    error["message"] = std::move(message);
    r["error"] = std::move(error);
    return r;
}

OrderedJson result_response(const OrderedJson& id, const Json& result) {
    OrderedJson r = response(id);
    r["result"] = OrderedJson(result);
    return r;
}

Json initialize_result() {
    return {{"capabilities", {{"tools", Json::object()}}},
            {"protocol_version", kProtocolVersion},
            {"server_info", {{"name", "vornex-mcp"}, {"version", kLibraryVersion}}}};
}

Json integer_schema() { return {{"type", "integer"}}; }
Json checks_schema() {
    return {{"type", "array"}, {"items", {{"type", "array"}, {"items", integer_schema()}}}};
}

Json tool(const char* name, const char* description, Json schema) {
    return {{"name", name}, {"description", description}, {"inputSchema", std::move(schema)}};
}

Json tools_list_result() {
    Json decode_schema = {{"type", "object"},
                          {"properties",
                           {{"check_to_qubits", checks_schema()},
                            {"n_qubits", integer_schema()},
                            {"syndrome", {{"type", "array"}, {"items", integer_schema()}}}}},
                          {"required", {"check_to_qubits", "syndrome"}}};
    Json benchmark_schema = {{"type", "object"},
                             {"properties",
                              {{"check_to_qubits", checks_schema()},
                               {"n_qubits", integer_schema()},
                               {"n_samples", integer_schema()},
                               {"seed", integer_schema()}}},
                             {"required", Json::array({"check_to_qubits"})}};
    Json info_schema = {{"type", "object"}, {"properties", Json::object()}};
    Json tools = Json::array();
    tools.push_back(tool("decode_syndrome",
                         "Decode a quantum error correction syndrome using the Union-Find decoder.",
                         std::move(decode_schema)));
    tools.push_back(tool("benchmark_decoder", "Run a benchmark of the decoder and return performance metrics.",
                         std::move(benchmark_schema)));
    tools.push_back(tool("get_decoder_info", "Return decoder configuration and version info.", std::move(info_schema)));
    return {{"tools", std::move(tools)}};
}

const OrderedJson* member(const OrderedJson& arguments, const char* name) {
    if (!arguments.is_object()) return nullptr;
    auto it = arguments.find(name);
    return it == arguments.end() ? nullptr : &*it;
}

std::optional<uint64_t> unsigned_value(const OrderedJson& v, uint64_t max) {
    uint64_t x = 0;
    if (v.is_number_unsigned())
        x = v.get<uint64_t>();
    else if (v.is_number_integer() && v.get<int64_t>() >= 0)
        x = static_cast<uint64_t>(v.get<int64_t>());
    else
        return std::nullopt;
    if (x > max) return std::nullopt;
    return x;
}

std::optional<CheckList> read_checks(const OrderedJson& arguments) {
    const OrderedJson* v = member(arguments, "check_to_qubits");
    if (v == nullptr || !v->is_array()) return std::nullopt;
    CheckList checks;
    checks.reserve(v->size());
    for (const auto& check : *v) {
        if (!check.is_array()) return std::nullopt;
        std::vector<uint32_t> qubits;
        qubits.reserve(check.size());
        for (const auto& q : check) {
            auto x = unsigned_value(q, UINT32_MAX);
            if (!x) return std::nullopt;
            qubits.push_back(static_cast<uint32_t>(*x));
        }
        checks.push_back(std::move(qubits));
    }
    return checks;
}

std::optional<std::vector<uint8_t>> read_syndrome(const OrderedJson& arguments) {
    const OrderedJson* v = member(arguments, "syndrome");
    if (v == nullptr || !v->is_array()) return std::nullopt;
    std::vector<uint8_t> syndrome;
    syndrome.reserve(v->size());
    for (const auto& b : *v) {
        auto x = unsigned_value(b, 255);
        if (!x) return std::nullopt;
        syndrome.push_back(static_cast<uint8_t>(*x));
    }
    return syndrome;
}

// Optional integers fall back silently to their default unless present as
// a non-negative integer.
std::optional<uint64_t> read_optional(const OrderedJson& arguments, const char* name) {
    const OrderedJson* v = member(arguments, name);
    return v == nullptr ? std::nullopt : unsigned_value(*v, UINT64_MAX);
}

// The output object's indented text, written directly: a correction may hold
// billions of bytes, and a JSON array of them would need sixteen times that
// (twice over, since the library flattens arrays onto a second vector when
// it frees them), where running out of memory mid-way could not be recovered.
// The text is what dump(2) gives for {"correction", "n_checks", "n_qubits"}.
std::string decode_output_text(const std::vector<uint8_t>& correction, size_t n_checks, size_t n_qubits) {
    std::string text = "{\n  \"correction\": ";
    if (correction.empty()) {
        text += "[]";
    } else {
        text.reserve(text.size() + 7 * correction.size() + 64);
        text += "[\n";
        for (size_t q = 0; q < correction.size(); ++q) {
            text += q == 0 ? "    " : ",\n    ";
            text += std::to_string(correction[q]);
        }
        text += "\n  ]";
    }
    text += ",\n  \"n_checks\": " + std::to_string(n_checks) + ",\n  \"n_qubits\": " + std::to_string(n_qubits) + "\n}";
    return text;
}

Result<std::string> decode_syndrome_tool(const OrderedJson& arguments) {
    auto checks = read_checks(arguments);
    if (!checks) return value_error("Missing or invalid check_to_qubits");
    auto syndrome = read_syndrome(arguments);
    if (!syndrome) return value_error("Missing or invalid syndrome");
    const auto n_qubits = read_optional(arguments, "n_qubits");
    auto decoder = UnionFindDecoder::create(std::move(*checks), n_qubits);
    if (!decoder) return decoder.error();
    // A wrong length is the decoder's precondition; its text is the answer.
    auto correction = decoder.value().decode(*syndrome);
    if (!correction) return correction.error();
    return decode_output_text(correction.value(), decoder.value().n_checks(), decoder.value().n_qubits());
}

Result<std::string> benchmark_decoder_tool(const OrderedJson& arguments) {
    auto checks = read_checks(arguments);
    if (!checks) return value_error("Missing or invalid check_to_qubits");
    const auto n_qubits = read_optional(arguments, "n_qubits");
    const uint64_t n_samples = read_optional(arguments, "n_samples").value_or(kServerBenchmarkSamples);
    const uint64_t seed = read_optional(arguments, "seed").value_or(kDefaultBenchmarkSeed);
    const BlossomGraph graph = build_blossom_graph(std::move(*checks), n_qubits, std::nullopt);
    auto report = run_benchmark(graph, n_samples, seed);
    if (!report) return report.error();
    return Json(report_json(report.value())).dump(2);
}

Json decoder_info_tool() {
    return {{"capabilities", {"decode", "batch_decode", "parallel_batch_decode", "benchmark"}},
            {"decoder_types", {"UnionFind", "FastUnionFind", "Blossom", "SlidingWindow", "Streaming"}},
            {"version", kLibraryVersion}};
}

Result<Json> call_tool(const OrderedJson& params) {
    std::string name;
    OrderedJson arguments;
    if (params.is_object()) {
        if (auto it = params.find("name"); it != params.end() && it->is_string()) name = it->get<std::string>();
        if (auto it = params.find("arguments"); it != params.end()) arguments = *it;
    }
    try {
        Result<std::string> text = value_error("Unknown tool: " + name);
        if (name == "decode_syndrome")
            text = decode_syndrome_tool(arguments);
        else if (name == "benchmark_decoder")
            text = benchmark_decoder_tool(arguments);
        else if (name == "get_decoder_info")
            text = decoder_info_tool().dump(2);
        if (!text) return text.error();
        Json text_item = Json::object();
        text_item["text"] = std::move(text.value());
        text_item["type"] = "text";
        Json content = Json::array();
        content.push_back(std::move(text_item));
        Json result = Json::object();
        result["content"] = std::move(content);
        return result;
    } catch (const std::bad_alloc&) {
        return value_error("Not enough memory for the request");
    } catch (const std::length_error&) {
        return value_error("Not enough memory for the request");
    }
}

std::string io_error(int err) { return std::string("IO error: ") + std::strerror(err); }

Status write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return runtime_error(io_error(errno));
        }
        done += static_cast<size_t>(n);
    }
    return ok_status();
}

Status answer_to(int out_fd, std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!is_valid_utf8(line)) return runtime_error("IO error: stream did not contain valid UTF-8");
    auto answer = answer_line(line);
    if (!answer) return ok_status();
    answer->push_back('\n');
    return write_all(out_fd, *answer);
}

bool is_unicode_space(uint32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

}  // namespace

bool is_blank(std::string_view text) {
    uint32_t cp = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t len = utf8_char(text, i, cp);
        if (len == 0 || !is_unicode_space(cp)) return false;
        i += len;
    }
    return true;
}

Result<JsonRpcRequest> parse_request(std::string_view line) {
    OrderedJson value;
    try {
        value = OrderedJson::parse(line, [](int depth, OrderedJson::parse_event_t event, OrderedJson&) {
            if (depth >= kMaxRequestDepth && (event == OrderedJson::parse_event_t::object_start ||
                                              event == OrderedJson::parse_event_t::array_start))
                throw TooDeep{};
            return true;
        });
    } catch (const TooDeep&) {
        return value_error("recursion limit exceeded");
    } catch (const OrderedJson::exception& e) {
        return value_error(parser_description(e.what()));
    }
    if (value.is_object()) return request_from_object(value);
    if (value.is_array()) return request_from_array(value);
    return value_error(std::string("invalid type: ") + kind_of(value) + ", expected struct JsonRpcRequest");
}

OrderedJson dispatch_request(const JsonRpcRequest& request) {
    const std::string& method = request.method;
    if (method == "initialize") return result_response(request.id, initialize_result());
    if (method == "notifications/initialized") return result_response(request.id, Json());
    if (method == "tools/list") return result_response(request.id, tools_list_result());
    if (method == "tools/call") {
        auto result = call_tool(request.params);
        if (!result) return error_response(request.id, kInvalidParams, result.error().message);
        return result_response(request.id, result.value());
    }
    return error_response(request.id, kMethodNotFound, "Method not found: " + method);
}

namespace {

// The parser's description may quote a cut-off multi-byte character; such
// bytes are written as U+FFFD instead of failing the whole answer.
std::string compact(const OrderedJson& response) {
    return response.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

}  // namespace

std::optional<std::string> answer_line(std::string_view line) {
    if (is_blank(line)) return std::nullopt;
    auto request = parse_request(line);
    if (!request) return compact(error_response(nullptr, kParseError, "Parse error: " + request.error().message));
    try {
        return compact(dispatch_request(request.value()));
    } catch (const std::bad_alloc&) {
        // Only a tool's output text grows with the request; the answer to a
        // request that cannot be written is the same memory failure a tool
        // reports, and the server goes on.
        return compact(error_response(request.value().id, kInvalidParams, "Not enough memory for the request"));
    }
}

Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted) {
    // Anything the process buffered in C stdio goes out before the answers.
    std::fflush(stdout);
    std::string pending;
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in_fd, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno != EINTR) return runtime_error(io_error(errno));
            if (interrupted && interrupted()) return runtime_error("interrupted");
            continue;
        }
        if (n == 0) break;
        const size_t scan_from = pending.size();
        pending.append(chunk.data(), static_cast<size_t>(n));
        size_t start = 0;
        for (size_t nl = pending.find('\n', scan_from); nl != std::string::npos; nl = pending.find('\n', start)) {
            if (auto st = answer_to(out_fd, std::string_view(pending).substr(start, nl - start)); !st) return st;
            start = nl + 1;
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) return answer_to(out_fd, pending);
    return ok_status();
}

}  // namespace vornex
