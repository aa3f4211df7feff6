// Tool server: JSON-RPC 2.0 requests on one input line each, one compact
// response line each, with the tools of server/tools.h. Stateless between
// requests. The framing lives in server/json_rpc.h, the loop on standard
// input and output in server/stdio_loop.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "code/result.h"
#include "code/utf8.h"
#include "server/json_rpc.h"
#include "server/stdio_loop.h"

namespace vornex {

// The response object of one parsed request.
nlohmann::ordered_json dispatch_request(const JsonRpcRequest& request);

// The compact response text for one input line (without its line feed), or
// nothing for a line that is empty or all white space, or that holds a
// well-formed notification (a request object without an id).
std::optional<std::string> answer_line(std::string_view line);

}  // namespace vornex
