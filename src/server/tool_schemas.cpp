#include "server/tool_schemas.h"

#include <cstdint>
#include <string>

#include "server/family_tool.h"
#include "server/model_tool.h"
#include "server/tool_arguments.h"

namespace vornex {
namespace {

using Json = nlohmann::json;  // built values: members sorted by key

Json described(Json schema, const std::string& description) {
    schema["description"] = description;
    return schema;
}

Json integer_in(uint64_t min, uint64_t max) { return {{"type", "integer"}, {"minimum", min}, {"maximum", max}}; }
Json array_of(Json items) { return {{"type", "array"}, {"items", std::move(items)}}; }
Json typed(const char* type) { return {{"type", type}}; }

Json object_schema(Json properties, Json required) {
    Json schema = {{"type", "object"}, {"properties", std::move(properties)}};
    if (!required.empty()) schema["required"] = std::move(required);
    return schema;
}

Json check_list_property() {
    Json schema = array_of(array_of(integer_in(0, kMaxToolQubits - 1)));
    schema["maxItems"] = kMaxToolChecks;
    return described(std::move(schema),
                     "The code: one list per check (stabiliser) naming the qubits it acts on, at most " +
                         std::to_string(kMaxToolChecks) + " checks, qubit indices from 0 to " +
                         std::to_string(kMaxToolQubits - 1) + ".");
}

Json n_qubits_property() {
    return described(integer_in(0, kMaxToolQubits),
                     "Number of qubits; defaults to one more than the largest index in check_to_qubits.");
}

Json tool(const char* name, const char* description, Json input, Json output) {
    return {{"name", name}, {"description", description}, {"inputSchema", std::move(input)},
            {"outputSchema", std::move(output)}};
}

Json decode_tool() {
    Json syndrome = array_of(integer_in(0, 255));
    syndrome["maxItems"] = kMaxToolChecks;
    Json input = object_schema({{"check_to_qubits", check_list_property()},
                                {"n_qubits", n_qubits_property()},
                                {"syndrome", described(std::move(syndrome),
                                                       "One value per check, in the order of check_to_qubits: "
                                                       "1 where the check fired, 0 where it did not.")}},
                               {"check_to_qubits", "syndrome"});
    Json output = object_schema(
        {{"correction", described(array_of(integer_in(0, 1)), "One value per qubit: 1 where the decoder flips it.")},
         {"n_checks", described(typed("integer"), "Number of checks of the code.")},
         {"n_qubits", described(typed("integer"), "Number of qubits the decoder used.")}},
        {"correction", "n_checks", "n_qubits"});
    return tool("decode_syndrome", "Decode a quantum error correction syndrome using the Union-Find decoder.",
                std::move(input), std::move(output));
}

Json benchmark_tool() {
    Json input = object_schema(
        {{"check_to_qubits", check_list_property()},
         {"n_qubits", n_qubits_property()},
         {"n_samples", described(integer_in(1, kMaxToolBenchmarkSamples),
                                 "Number of timed pseudo-random syndromes (default " +
                                     std::to_string(kToolBenchmarkSamples) + ").")},
         {"seed", described(integer_in(0, UINT64_MAX), "Seed of the syndrome generator (default 42).")}},
        Json::array({"check_to_qubits"}));
    const auto latency = [](const char* what) {
        return described(typed("number"), std::string(what) + " single-syndrome decoding latency in microseconds.");
    };
    Json output = object_schema({{"latency_max_us", latency("Largest")},
                                 {"latency_mean_us", latency("Mean")},
                                 {"latency_min_us", latency("Smallest")},
                                 {"latency_p50_us", latency("Median")},
                                 {"latency_p99_us", latency("99th percentile")},
                                 {"n_samples", described(typed("integer"), "Number of timed syndromes.")},
                                 {"throughput", described(typed("integer"), "Decodes per second.")},
                                 {"timestamp", described(typed("string"), "When the run ended (RFC 3339, UTC).")},
                                 {"version", described(typed("string"), "Library version.")}},
                                {"latency_max_us", "latency_mean_us", "latency_min_us", "latency_p50_us",
                                 "latency_p99_us", "n_samples", "throughput", "timestamp", "version"});
    return tool("benchmark_decoder", "Run a benchmark of the decoder and return performance metrics.",
                std::move(input), std::move(output));
}

Json info_tool() {
    Json output = object_schema(
        {{"capabilities", described(array_of(typed("string")), "What the library's decoders can do.")},
         {"decoder_types", described(array_of(typed("string")), "The decoder families of the library.")},
         {"version", described(typed("string"), "Library version.")}},
        {"capabilities", "decoder_types", "version"});
    return tool("get_decoder_info", "Return decoder configuration and version info.",
                object_schema(Json::object(), Json::array()), std::move(output));
}

Json shots_property(Json values, const std::string& what) {
    Json schema = array_of(array_of(std::move(values)));
    schema["maxItems"] = kMaxToolShots;
    return described(std::move(schema), "Shots to decode, at most " + std::to_string(kMaxToolShots) + ": " + what +
                                             " Give this or the other form of shots, not both.");
}

Json predict_tool() {
    Json model = typed("string");
    model["maxLength"] = kMaxToolModelBytes;
    Json decoders = typed("string");
    decoders["enum"] = Json::array();
    for (std::string_view name : model_decoder_names()) decoders["enum"].push_back(std::string(name));
    Json input = object_schema(
        {{"detector_error_model",
          described(std::move(model), "The detector error model as text (one instruction a line, repeat blocks "
                                      "allowed), at most " + std::to_string(kMaxToolModelBytes) +
                                          " bytes; at most " + std::to_string(kToolModelLimits.max_detectors) +
                                          " detectors and " + std::to_string(kToolModelLimits.max_observables) +
                                          " observables.")},
         {"detection_events",
          shots_property(integer_in(0, 1), "each one value per detector of the model, 1 where it fired.")},
         {"fired_detectors",
          shots_property(integer_in(0, kToolModelLimits.max_detectors - 1),
                         "each the ids of the detectors that fired (empty for a quiet shot).")},
         {"decoder", described(std::move(decoders), "Decoder family: matching (exact minimum-weight matching, "
                                                    "the default), uf (Union-Find) or weighted_uf (Union-Find grown "
                                                    "by edge weight); list_decoder_families describes them.")}},
        Json::array({"detector_error_model"}));
    Json output = object_schema(
        {{"decoder", described(typed("string"), "The decoder family used.")},
         {"num_detectors", described(typed("integer"), "Detectors of the model.")},
         {"num_observables", described(typed("integer"), "Observables of the model.")},
         {"num_shots", described(typed("integer"), "Shots decoded.")},
         {"observable_flips",
          described(array_of(typed("integer")), "Per observable, the number of shots predicted to flip it.")},
         {"predictions", described(array_of(array_of(integer_in(0, 1))),
                                   "Per shot, one value per observable: 1 where the decoder predicts a flip.")}},
        {"decoder", "num_detectors", "num_observables", "num_shots", "observable_flips", "predictions"});
    return tool("predict_observables",
                "Predict which logical observables flipped in each shot, from a detector error model and the "
                "shots' detection events.",
                std::move(input), std::move(output));
}

}  // namespace

Json tools_list_result(const HostedTools* hosted) {
    Json tools = {decode_tool(), benchmark_tool(), info_tool(), predict_tool(), family_listing_tool()};
    if (hosted != nullptr)
        for (const HostedTool& tool : *hosted) tools.push_back(tool.listing);
    return {{"tools", std::move(tools)}};
}

}  // namespace vornex
