#include "server/json_rpc.h"

#include <algorithm>

namespace vornex {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

struct TooDeep {};

const char* kind_of(const OrderedJson& v) {
    switch (v.type()) {
        case OrderedJson::value_t::null: return "null";
        case OrderedJson::value_t::boolean: return "boolean";
        case OrderedJson::value_t::number_integer:
        case OrderedJson::value_t::number_unsigned: return "integer";
        case OrderedJson::value_t::number_float: return "floating point";
        case OrderedJson::value_t::string: return "string";
        case OrderedJson::value_t::array: return "sequence";
        case OrderedJson::value_t::object: return "map";
        default: return "value";
    }
}

// "[json.exception.parse_error.101] parse error at line 1, column 4: what"
// becomes "what at line 1, column 4".
std::string parser_description(const char* what) {
    std::string text = what;
    if (const size_t close = text.find("] "); text.starts_with("[json.exception.") && close != std::string::npos)
        text.erase(0, close + 2);
    constexpr std::string_view kAt = "parse error at ";
    if (text.starts_with(kAt)) {
        const size_t colon = text.find(": ", kAt.size());
        if (colon != std::string::npos)
            return text.substr(colon + 2) + " at " + text.substr(kAt.size(), colon - kAt.size());
    }
    return text;
}

Result<std::string> string_member(const OrderedJson& v, const char* field) {
    if (!v.is_string())
        return value_error(std::string("invalid type: ") + kind_of(v) + ", expected a string for `" + field + "`");
    return v.get<std::string>();
}

Result<JsonRpcRequest> request_from_array(OrderedJson& v) {
    if (v.size() != 4)
        return value_error("invalid length " + std::to_string(v.size()) +
                           ", expected struct JsonRpcRequest with 4 elements");
    JsonRpcRequest request;
    auto jsonrpc = string_member(v[0], "jsonrpc");
    if (!jsonrpc) return jsonrpc.error();
    auto method = string_member(v[2], "method");
    if (!method) return method.error();
    request.jsonrpc = std::move(jsonrpc.value());
    request.id = std::move(v[1]);
    request.method = std::move(method.value());
    request.params = std::move(v[3]);
    return request;
}

Result<JsonRpcRequest> request_from_object(OrderedJson& v) {
    for (const char* field : {"jsonrpc", "method"})
        if (!v.contains(field)) return value_error(std::string("missing field `") + field + "`");
    JsonRpcRequest request;
    auto jsonrpc = string_member(v["jsonrpc"], "jsonrpc");
    if (!jsonrpc) return jsonrpc.error();
    auto method = string_member(v["method"], "method");
    if (!method) return method.error();
    request.jsonrpc = std::move(jsonrpc.value());
    request.method = std::move(method.value());
    if (auto it = v.find("id"); it != v.end())
        request.id = std::move(*it);
    else
        request.has_id = false;
    if (auto it = v.find("params"); it != v.end()) request.params = std::move(*it);
    return request;
}

OrderedJson response(const OrderedJson& id) {
    OrderedJson r;
    r["jsonrpc"] = "2.0";
    r["id"] = id;
    return r;
}

// The deepest nesting of arrays and objects in the line, counting brackets
// outside strings by the parser's own rules; up to a syntax error it is the
// depth the parser reaches, and beyond one it can only be larger.
size_t nesting_depth(std::string_view line) {
    size_t depth = 0, deepest = 0;
    bool in_string = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

OrderedJson parse_bounded(std::string_view line) {
    // The callback parser calls a std::function per value; only a line that
    // may nest too deep needs it.
    if (nesting_depth(line) <= static_cast<size_t>(kMaxRequestDepth)) return OrderedJson::parse(line);
    return OrderedJson::parse(line, [](int depth, OrderedJson::parse_event_t event, OrderedJson&) {
        if (depth >= kMaxRequestDepth &&
            (event == OrderedJson::parse_event_t::object_start || event == OrderedJson::parse_event_t::array_start))
            throw TooDeep{};
        return true;
    });
}

}  // namespace

Result<JsonRpcRequest> parse_request(std::string_view line) {
    OrderedJson value;
    try {
        value = parse_bounded(line);
    } catch (const TooDeep&) {
        return value_error("recursion limit exceeded");
    } catch (const OrderedJson::exception& e) {
        return value_error(parser_description(e.what()));
    }
    if (value.is_object()) return request_from_object(value);
    if (value.is_array()) return request_from_array(value);
    return value_error(std::string("invalid type: ") + kind_of(value) + ", expected struct JsonRpcRequest");
}

OrderedJson error_response(const OrderedJson& id, int code, std::string message) {
    OrderedJson r = response(id);
    OrderedJson error;
    error["code"] = code;
    error["message"] = std::move(message);
    r["error"] = std::move(error);
    return r;
}

OrderedJson result_response(const OrderedJson& id, const Json& result) {
    OrderedJson r = response(id);
    r["result"] = OrderedJson(result);
    return r;
}

// The parser's description may quote a cut-off multi-byte character; such
// bytes are written as U+FFFD instead of failing the whole answer.
std::string compact(const OrderedJson& response) {
    return response.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

std::string compact_json(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

void append_json_string(std::string& out, std::string_view text) { out += compact_json(Json(text)); }

std::string result_text(const OrderedJson& id, std::string_view result) {
    std::string text = R"({"jsonrpc":"2.0","id":)";
    text += compact(id);
    text += R"(,"result":)";
    text += result;
    text += '}';
    return text;
}

}  // namespace vornex
