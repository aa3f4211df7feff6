#include "server/mcp_server.h"

#include <new>
#include <stdexcept>

#include "base/version.h"
#include "server/tools.h"

namespace vornex {
namespace {

using Json = nlohmann::json;  // built values: members sorted by key
using OrderedJson = nlohmann::ordered_json;

// Oldest first; the last is offered to a client that asks for none of them.
constexpr std::string_view kProtocolVersions[] = {"2024-11-05", "2025-03-26", "2025-06-18", "2025-11-25"};

std::string_view negotiated_version(const OrderedJson& params) {
    if (params.is_object()) {
        const auto asked = params.find("protocolVersion");
        if (asked != params.end() && asked->is_string())
            for (std::string_view version : kProtocolVersions)
                if (asked->get_ref<const std::string&>() == version) return version;
    }
    return std::end(kProtocolVersions)[-1];
}

// MCP clients read the camel-case keys; the snake-case ones stay for the
// callers written against the first answers of this server.
Json initialize_result(const OrderedJson& params) {
    const std::string version(negotiated_version(params));
    const Json server_info = {{"name", "vornex-mcp"}, {"version", kLibraryVersion}};
    return {{"capabilities", {{"tools", Json::object()}}},
            {"protocolVersion", version},
            {"protocol_version", version},
            {"serverInfo", server_info},
            {"server_info", server_info}};
}

bool is_understood_notification(const std::string& method) {
    return method == "notifications/initialized" || method == "notifications/cancelled";
}

// The answer's text; results are written straight into it rather than
// copied into a response object first.
std::string dispatch(const JsonRpcRequest& request, ProgressSink* progress, const HostedTools* hosted) {
    const std::string& method = request.method;
    const auto answer = [&](const Json& result) { return result_text(request.id, compact_json(result)); };
    if (method == "initialize") return answer(initialize_result(request.params));
    if (method == "ping") return answer(Json::object());
    if (is_understood_notification(method)) return answer(Json());
    if (method == "tools/list") return answer(tools_list_result(hosted));
    if (method == "tools/call") {
        auto result = call_tool_text(request.params, progress, hosted);
        if (!result) return compact(error_response(request.id, kInvalidParams, result.error().message));
        return result_text(request.id, result.value());
    }
    return compact(error_response(request.id, kMethodNotFound, "Method not found: " + method));
}

std::string out_of_memory_answer(const OrderedJson& id) {
    return compact(error_response(id, kInternalError, kOutOfMemoryText));
}

LineAction parse_line(std::string_view line) {
    LineAction action;
    if (const size_t bad = first_invalid_utf8(line); bad != std::string_view::npos) {
        action.answer = compact(error_response(
            nullptr, kParseError, "Parse error: invalid UTF-8 at byte " + std::to_string(bad + 1) + " of the line"));
        return action;
    }
    if (is_blank(line)) return action;
    auto request = parse_request(line);
    if (!request) {
        action.answer = compact(error_response(nullptr, kParseError, "Parse error: " + request.error().message));
        return action;
    }
    JsonRpcRequest& r = request.value();
    if (r.has_id) {
        action.request = std::move(r);
    } else if (r.method == "notifications/cancelled" && r.params.is_object()) {
        // JSON-RPC forbids any reply to a notification, even an error; the
        // server keeps no other state, so one not understood changes nothing.
        if (auto it = r.params.find("requestId"); it != r.params.end()) action.cancel = std::move(*it);
    }
    return action;
}

}  // namespace

LineAction read_request_line(std::string_view line) {
    try {
        return parse_line(line);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    LineAction action;
    try {
        action.answer = out_of_memory_answer(nullptr);
    } catch (const std::exception&) {
        // Not even the short answer fits: the line goes unanswered rather
        // than ending the server.
    }
    return action;
}

std::string answer_request(const JsonRpcRequest& request, ProgressSink* progress, const HostedTools* hosted) {
    try {
        return dispatch(request, progress, hosted);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    // Only an answer's text can still outgrow memory here (a tool's own
    // failures are results); the request is answered with the failure.
    try {
        return out_of_memory_answer(request.id);
    } catch (const std::exception&) {
        return std::string();
    }
}

std::string too_long_answer(size_t max_line_bytes) {
    return compact(error_response(nullptr, kInvalidRequest,
                                  "Invalid request: a request line may hold at most " +
                                      std::to_string(max_line_bytes) + " bytes"));
}

std::string cancelled_answer(const OrderedJson& id) {
    return compact(error_response(id, kRequestCancelled, kCancelledText));
}

std::optional<OrderedJson> progress_token(const JsonRpcRequest& request) {
    if (!request.params.is_object()) return std::nullopt;
    const auto meta = request.params.find("_meta");
    if (meta == request.params.end() || !meta->is_object()) return std::nullopt;
    const auto token = meta->find("progressToken");
    if (token == meta->end() || !(token->is_string() || token->is_number_integer())) return std::nullopt;
    return *token;
}

std::string progress_notification(const OrderedJson& token, uint64_t done, uint64_t total) {
    OrderedJson line;
    line["jsonrpc"] = "2.0";
    line["method"] = "notifications/progress";
    line["params"] = OrderedJson(Json{{"progress", done}, {"progressToken", token}, {"total", total}});
    return compact(line);
}

OrderedJson dispatch_request(const JsonRpcRequest& request) {
    return OrderedJson::parse(dispatch(request, nullptr, nullptr));
}

std::optional<std::string> answer_line(std::string_view line) {
    LineAction action = read_request_line(line);
    if (action.request) return answer_request(*action.request, nullptr);
    return std::move(action.answer);
}

}  // namespace vornex
