// The server's tools: "decode_syndrome", "benchmark_decoder" and
// "get_decoder_info", their listing and their calls. Stateless.
#pragma once

#include <nlohmann/json.hpp>

#include "code/result.h"

namespace vornex {

// The result of "tools/list".
nlohmann::json tools_list_result();

// The result of "tools/call" with these params ({"name", "arguments"}), or
// the message of its invalid-params error.
Result<nlohmann::json> call_tool(const nlohmann::ordered_json& params);

}  // namespace vornex
