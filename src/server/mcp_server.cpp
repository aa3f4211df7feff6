#include "server/mcp_server.h"

#include <new>

#include "code/version.h"
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

}  // namespace

OrderedJson dispatch_request(const JsonRpcRequest& request) {
    const std::string& method = request.method;
    if (method == "initialize") return result_response(request.id, initialize_result(request.params));
    if (method == "ping") return result_response(request.id, Json::object());
    if (is_understood_notification(method)) return result_response(request.id, Json());
    if (method == "tools/list") return result_response(request.id, tools_list_result());
    if (method == "tools/call") {
        auto result = call_tool(request.params);
        if (!result) return error_response(request.id, kInvalidParams, result.error().message);
        return result_response(request.id, result.value());
    }
    return error_response(request.id, kMethodNotFound, "Method not found: " + method);
}

std::optional<std::string> answer_line(std::string_view line) {
    if (is_blank(line)) return std::nullopt;
    auto request = parse_request(line);
    if (!request) return compact(error_response(nullptr, kParseError, "Parse error: " + request.error().message));
    // JSON-RPC forbids any reply to a notification, even an error; the server
    // keeps no state, so one that is not understood has nothing to change.
    if (!request.value().has_id) return std::nullopt;
    try {
        return compact(dispatch_request(request.value()));
    } catch (const std::bad_alloc&) {
        // Only a tool's output text grows with the request; the answer to a
        // request that cannot be written is the same memory failure a tool
        // reports, and the server goes on.
        return compact(error_response(request.value().id, kInvalidParams, "Not enough memory for the request"));
    }
}

}  // namespace vornex
