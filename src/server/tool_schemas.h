// What "tools/list" tells a client about each tool: its description, the
// schema of its arguments (every property described, with its bounds) and
// the schema of its structured output.
#pragma once

#include <nlohmann/json.hpp>

#include "server/hosted_tool.h"

namespace vornex {

// The result of "tools/list": the server's own tools, then the hosted ones
// (`hosted` may be null).
nlohmann::json tools_list_result(const HostedTools* hosted = nullptr);

}  // namespace vornex
