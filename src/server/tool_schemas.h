// What "tools/list" tells a client about each tool: its description, the
// schema of its arguments (every property described, with its bounds) and
// the schema of its structured output.
#pragma once

#include <nlohmann/json.hpp>

namespace vornex {

// The result of "tools/list".
nlohmann::json tools_list_result();

}  // namespace vornex
