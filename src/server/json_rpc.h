// JSON-RPC 2.0 framing: one request parsed from one line, and the response
// objects and their compact text. Knows nothing of the methods served.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/result.h"

namespace vornex {

inline constexpr int kParseError = -32700;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kInternalError = -32603;
// A request the client cancelled before its answer (the code language
// servers use; JSON-RPC leaves -32800 and below to applications).
inline constexpr int kRequestCancelled = -32800;

// Nesting deeper than this is refused while parsing, so that echoing an id
// can never recurse without bound.
inline constexpr int kMaxRequestDepth = 128;

struct JsonRpcRequest {
    std::string jsonrpc;
    nlohmann::ordered_json id;  // null when absent
    bool has_id = true;         // false for a notification, which gets no reply
    std::string method;
    nlohmann::ordered_json params;  // null when absent
};

// One request from a line holding exactly one JSON value: an object with the
// request's members, or an array of its four values in order. The error is
// the description that follows "Parse error: ".
Result<JsonRpcRequest> parse_request(std::string_view line);

// {"jsonrpc":"2.0","id":id,"error":{"code":code,"message":message}}
nlohmann::ordered_json error_response(const nlohmann::ordered_json& id, int code, std::string message);

// {"jsonrpc":"2.0","id":id,"result":result}, the result's members sorted by key.
nlohmann::ordered_json result_response(const nlohmann::ordered_json& id, const nlohmann::json& result);

// The response on one line, without its line feed.
std::string compact(const nlohmann::ordered_json& response);

// Compact text of any value, with the same handling of bad UTF-8 as compact().
std::string compact_json(const nlohmann::json& value);

// Appends `text` as a JSON string literal (quoted and escaped).
void append_json_string(std::string& out, std::string_view text);

// compact(result_response(id, result)) for a result already written as
// compact text, without building the response object.
std::string result_text(const nlohmann::ordered_json& id, std::string_view result);

}  // namespace vornex
