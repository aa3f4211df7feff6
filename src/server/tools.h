// The server's tools: "decode_syndrome", "benchmark_decoder",
// "get_decoder_info", "predict_observables" and "list_decoder_families". Stateless: every call builds what it needs afresh.
#pragma once

#include <nlohmann/json.hpp>

#include "base/progress.h"
#include "base/result.h"
#include "server/hosted_tool.h"
#include "server/tool_schemas.h"

namespace vornex {

// The result of "tools/call" with these params ({"name", "arguments"}): the
// tool's output (compact JSON text and the same object as structured
// content), or a result with "isError" true and the failure's text when a
// well-formed call fails. The error is the message of an invalid-params
// answer: an unknown tool or arguments outside their schema. Long tools
// report to `progress` (may be null) and stop when it says so. A name the
// server does not know is looked up in `hosted` (may be null).
Result<nlohmann::json> call_tool(const nlohmann::ordered_json& params, ProgressSink* progress = nullptr,
                                 const HostedTools* hosted = nullptr);
// The same result as compact JSON text (members in key order), as the
// server writes it.
Result<std::string> call_tool_text(const nlohmann::ordered_json& params, ProgressSink* progress = nullptr,
                                   const HostedTools* hosted = nullptr);

// The texts a tool call may fail with whatever the tool.
inline constexpr const char* kOutOfMemoryText = "Not enough memory for the request";
inline constexpr const char* kCancelledText = "Request cancelled";

}  // namespace vornex
