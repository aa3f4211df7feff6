// The "list_decoder_families" tool: every decoder family that builds from a
// detector error model, with the names it answers to, whether it accepts
// hyperedges and whether it is exact. It sits beside "get_decoder_info",
// whose fixed answer names the library's original classes instead.
#pragma once

#include <nlohmann/json.hpp>

namespace vornex {

// The tool's entry in tools/list.
nlohmann::json family_listing_tool();

// The tool's output object.
nlohmann::json decoder_families_output();

}  // namespace vornex
