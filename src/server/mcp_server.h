// Tool server: JSON-RPC 2.0 requests on one input line each, one compact
// response line each, with the tools "decode_syndrome", "benchmark_decoder"
// and "get_decoder_info". Stateless between requests.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "code/result.h"
#include "code/utf8.h"

namespace vornex {

inline constexpr int kParseError = -32700;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;

// Nesting deeper than this is refused while parsing, so that echoing an id
// can never recurse without bound.
inline constexpr int kMaxRequestDepth = 128;

struct JsonRpcRequest {
    std::string jsonrpc;
    nlohmann::ordered_json id;  // null when absent
    std::string method;
    nlohmann::ordered_json params;  // null when absent
};

// One request from a line holding exactly one JSON value: an object with the
// request's members, or an array of its four values in order. The error is
// the description that follows "Parse error: ".
Result<JsonRpcRequest> parse_request(std::string_view line);

// The response object of one parsed request.
nlohmann::ordered_json dispatch_request(const JsonRpcRequest& request);

// The compact response text for one input line (without its line feed), or
// nothing for a line that is empty or all white space.
std::optional<std::string> answer_line(std::string_view line);

// True when every character of the (valid UTF-8) text is Unicode white space.
bool is_blank(std::string_view text);

// Reads lines from in_fd until end of input and writes each answer to out_fd.
// A read or write failure, or a line that is not UTF-8, ends the loop with
// "IO error: ...". When a read is interrupted by a signal, `interrupted` is
// asked whether to stop; if it says so the loop returns an error at once.
Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted);

}  // namespace vornex
