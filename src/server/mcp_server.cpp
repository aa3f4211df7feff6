#include "server/mcp_server.h"

#include <new>

#include "code/version.h"
#include "server/tools.h"

namespace vornex {
namespace {

using Json = nlohmann::json;  // built values: members sorted by key
using OrderedJson = nlohmann::ordered_json;

constexpr const char* kProtocolVersion = "2024-11-05";

Json initialize_result() {
    return {{"capabilities", {{"tools", Json::object()}}},
            {"protocol_version", kProtocolVersion},
            {"server_info", {{"name", "vornex-mcp"}, {"version", kLibraryVersion}}}};
}

}  // namespace

OrderedJson dispatch_request(const JsonRpcRequest& request) {
    const std::string& method = request.method;
    if (method == "initialize") return result_response(request.id, initialize_result());
    if (method == "notifications/initialized") return result_response(request.id, Json());
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
