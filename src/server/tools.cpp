#include "server/tools.h"

#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/version.h"
#include "evaluation/benchmark.h"
#include "matching/blossom.h"
#include "server/family_tool.h"
#include "server/json_rpc.h"
#include "server/model_tool.h"
#include "server/tool_arguments.h"
#include "uf/decoder.h"

namespace vornex {
namespace {

using Json = nlohmann::json;  // built values: members sorted by key
using OrderedJson = nlohmann::ordered_json;

// A tool's arguments are read in full (the malformed ones refused) before
// anything is built; running the tool may then fail on its own terms.
struct DecodeArguments {
    CheckList checks;
    std::vector<uint8_t> syndrome;
    std::optional<uint64_t> n_qubits;
};

struct BenchmarkArguments {
    CheckList checks;
    std::optional<uint64_t> n_qubits;
    uint64_t n_samples = kToolBenchmarkSamples;
    uint64_t seed = kDefaultBenchmarkSeed;
};

Result<DecodeArguments> read_decode_arguments(const OrderedJson& arguments) {
    DecodeArguments out;
    auto checks = read_check_list(arguments);
    if (!checks) return checks.error();
    auto syndrome = read_syndrome_bytes(arguments);
    if (!syndrome) return syndrome.error();
    auto n_qubits = read_bounded(arguments, "n_qubits", 0, kMaxToolQubits);
    if (!n_qubits) return n_qubits.error();
    out.checks = std::move(checks.value());
    out.syndrome = std::move(syndrome.value());
    out.n_qubits = n_qubits.value();
    return out;
}

Result<BenchmarkArguments> read_benchmark_arguments(const OrderedJson& arguments) {
    BenchmarkArguments out;
    auto checks = read_check_list(arguments);
    if (!checks) return checks.error();
    auto n_qubits = read_bounded(arguments, "n_qubits", 0, kMaxToolQubits);
    if (!n_qubits) return n_qubits.error();
    auto n_samples = read_bounded(arguments, "n_samples", 1, kMaxToolBenchmarkSamples);
    if (!n_samples) return n_samples.error();
    auto seed = read_bounded(arguments, "seed", 0, UINT64_MAX);
    if (!seed) return seed.error();
    out.checks = std::move(checks.value());
    out.n_qubits = n_qubits.value();
    out.n_samples = n_samples.value().value_or(kToolBenchmarkSamples);
    out.seed = seed.value().value_or(kDefaultBenchmarkSeed);
    return out;
}

Result<Json> decode_syndrome_tool(DecodeArguments a) {
    auto decoder = UnionFindDecoder::create(std::move(a.checks), a.n_qubits);
    if (!decoder) return decoder.error();
    // The Python class's own text for a syndrome of the wrong length.
    if (Status length = decoder.value().check_syndrome_length(a.syndrome.size()); !length) return length.error();
    auto correction = decoder.value().decode(a.syndrome);
    if (!correction) return correction.error();
    return Json{{"correction", std::move(correction.value())},
                {"n_checks", decoder.value().n_checks()},
                {"n_qubits", decoder.value().n_qubits()}};
}

Result<Json> benchmark_decoder_tool(BenchmarkArguments a, ProgressSink* progress) {
    const BlossomGraph graph = build_blossom_graph(std::move(a.checks), a.n_qubits, std::nullopt);
    auto report = run_benchmark(graph, a.n_samples, a.seed, progress);
    if (!report) return report.error();
    return Json(report_json(report.value()));
}

Json decoder_info() {
    return {{"capabilities", {"decode", "batch_decode", "parallel_batch_decode", "benchmark"}},
            {"decoder_types", {"UnionFind", "FastUnionFind", "Blossom", "SlidingWindow", "Streaming"}},
            {"version", kLibraryVersion}};
}

// A successful call: the output once as compact text, for clients that show
// text, and once as the object itself, for clients that read the schema.
// Written straight from the output's text, which is serialised once; the
// members are in key order, as a dump of the whole result would give them.
std::string output_result(const Json& output) {
    const std::string text = compact_json(output);
    std::string result = R"({"content":[{"text":)";
    append_json_string(result, text);
    result += R"(,"type":"text"}],"structuredContent":)";
    result += text;
    result += '}';
    return result;
}

std::string failure_result(std::string message) {
    return compact_json(Json{{"content", Json::array({{{"text", std::move(message)}, {"type", "text"}}})},
                             {"isError", true}});
}

// Stands in for a caller that wants no progress and never stops a call.
class NoProgress final : public ProgressSink {
public:
    bool report(uint64_t, uint64_t) override { return true; }
};

const HostedTool* find_hosted(const HostedTools* hosted, const std::string& name) {
    if (hosted == nullptr) return nullptr;
    for (const HostedTool& tool : *hosted)
        if (tool.listing.value("name", "") == name) return &tool;
    return nullptr;
}

Result<std::string> run_hosted(const HostedTool& tool, const OrderedJson& arguments, ProgressSink* progress) {
    NoProgress none;
    HostedToolOutcome outcome = tool.run(arguments.dump(), progress != nullptr ? *progress : none);
    switch (outcome.kind) {
        case HostedToolOutcome::Kind::Malformed: return value_error(std::move(outcome.text));
        case HostedToolOutcome::Kind::Failure: return failure_result(std::move(outcome.text));
        case HostedToolOutcome::Kind::Output: break;
    }
    Json output = Json::parse(outcome.text, nullptr, false);
    if (!output.is_object()) return failure_result("the tool's output is not a JSON object");
    return output_result(output);
}

// Runs one tool: the error of the returned Result is a malformed call; the
// value is the tool result, failed or not.
Result<std::string> run_tool(const std::string& name, const OrderedJson& arguments, ProgressSink* progress,
                             const HostedTools* hosted) {
    Result<Json> output = Json();
    if (name == "decode_syndrome") {
        auto a = read_decode_arguments(arguments);
        if (!a) return a.error();
        output = decode_syndrome_tool(std::move(a.value()));
    } else if (name == "benchmark_decoder") {
        auto a = read_benchmark_arguments(arguments);
        if (!a) return a.error();
        output = benchmark_decoder_tool(std::move(a.value()), progress);
    } else if (name == "predict_observables") {
        auto a = read_predict_arguments(arguments);
        if (!a) return a.error();
        output = predict_observables_tool(a.value(), progress);
    } else if (name == "get_decoder_info") {
        output = decoder_info();
    } else if (name == "list_decoder_families") {
        output = decoder_families_output();
    } else if (const HostedTool* tool = find_hosted(hosted, name)) {
        return run_hosted(*tool, arguments, progress);
    } else {
        return value_error("Unknown tool: " + name);
    }
    if (!output) {
        const Error& e = output.error();
        return failure_result(e.kind == ErrorKind::Interrupted ? kCancelledText : e.message);
    }
    return output_result(output.value());
}

}  // namespace

Result<Json> call_tool(const OrderedJson& params, ProgressSink* progress, const HostedTools* hosted) {
    auto text = call_tool_text(params, progress, hosted);
    if (!text) return text.error();
    return Json::parse(text.value());
}

Result<std::string> call_tool_text(const OrderedJson& params, ProgressSink* progress, const HostedTools* hosted) {
    std::string name;
    const OrderedJson* arguments = nullptr;
    if (params.is_object()) {
        if (auto it = params.find("name"); it != params.end() && it->is_string()) name = it->get<std::string>();
        if (auto it = params.find("arguments"); it != params.end()) arguments = &*it;
    }
    static const OrderedJson kNoArguments;
    try {
        return run_tool(name, arguments ? *arguments : kNoArguments, progress, hosted);
    } catch (const std::bad_alloc&) {
        return failure_result(kOutOfMemoryText);
    } catch (const std::length_error&) {
        return failure_result(kOutOfMemoryText);
    }
}

}  // namespace vornex
