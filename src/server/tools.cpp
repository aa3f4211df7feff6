#include "server/tools.h"

#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/benchmark.h"
#include "code/version.h"
#include "matching/blossom.h"
#include "uf/decoder.h"

namespace vornex {
namespace {

using Json = nlohmann::json;  // built values: members sorted by key
using OrderedJson = nlohmann::ordered_json;

constexpr uint64_t kServerBenchmarkSamples = 1000;

Json integer_schema() { return {{"type", "integer"}}; }
Json checks_schema() {
    return {{"type", "array"}, {"items", {{"type", "array"}, {"items", integer_schema()}}}};
}

Json tool(const char* name, const char* description, Json schema) {
    return {{"name", name}, {"description", description}, {"inputSchema", std::move(schema)}};
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

}  // namespace

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

}  // namespace vornex
