// Tool server: JSON-RPC 2.0 requests on one input line each, one compact
// response line for each request that has an id, with the tools of
// server/tools.h. Stateless between requests. The framing lives in
// server/json_rpc.h, the loop on standard input and output in
// server/stdio_loop.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/progress.h"
#include "base/result.h"
#include "base/utf8.h"
#include "server/hosted_tool.h"
#include "server/json_rpc.h"
#include "server/stdio_loop.h"

namespace vornex {

// What one input line asks of the server. At most one member is set; none
// for a blank line or a notification that changes nothing.
struct LineAction {
    std::optional<std::string> answer;             // answered without running anything (a parse error)
    std::optional<JsonRpcRequest> request;         // to be answered by answer_request()
    std::optional<nlohmann::ordered_json> cancel;  // the requestId of "notifications/cancelled"
};

// Reads one line (any bytes, its line feed removed). Never throws: running
// out of memory while parsing is answered like any other failure.
LineAction read_request_line(std::string_view line);

// The compact answer to a request with an id. Long tool calls report to
// `progress` (may be null) and stop when it says so; `hosted` (may be null)
// adds tools to the server's own. Never throws.
std::string answer_request(const JsonRpcRequest& request, ProgressSink* progress, const HostedTools* hosted = nullptr);

// The answer to a line longer than the cap, whose id is never read.
std::string too_long_answer(size_t max_line_bytes);

// The answer to a request cancelled by the client before its answer.
std::string cancelled_answer(const nlohmann::ordered_json& id);

// The request's "params._meta.progressToken" (a string or an integer), if any.
std::optional<nlohmann::ordered_json> progress_token(const JsonRpcRequest& request);

// A "notifications/progress" line for that token, without its line feed.
std::string progress_notification(const nlohmann::ordered_json& token, uint64_t done, uint64_t total);

// The response object of one parsed request.
nlohmann::ordered_json dispatch_request(const JsonRpcRequest& request);

// The compact response text for one input line (without its line feed), or
// nothing for a line that is empty or all white space, or that holds a
// well-formed notification (a request object without an id).
std::optional<std::string> answer_line(std::string_view line);

}  // namespace vornex
