#include "server/tool_arguments.h"

#include <algorithm>

namespace vornex {

using OrderedJson = nlohmann::ordered_json;

std::optional<uint64_t> unsigned_integer(const OrderedJson& v) {
    if (v.is_number_unsigned()) return v.get<uint64_t>();
    if (v.is_number_integer() && v.get<int64_t>() >= 0) return static_cast<uint64_t>(v.get<int64_t>());
    return std::nullopt;
}

std::string shown_value(const OrderedJson& v) {
    constexpr size_t kShown = 40;
    std::string text = v.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
    if (text.size() > kShown) text = text.substr(0, kShown) + "...";
    return text;
}

const OrderedJson* argument(const OrderedJson& arguments, const char* name) {
    if (!arguments.is_object()) return nullptr;
    const auto it = arguments.find(name);
    return it == arguments.end() ? nullptr : &*it;
}

namespace {

// The argument `name` as an array of at most kMaxToolChecks `entries`.
Result<const OrderedJson*> check_sized_array(const OrderedJson& arguments, const std::string& name,
                                             const char* entries) {
    const OrderedJson* v = argument(arguments, name.c_str());
    if (v == nullptr || !v->is_array()) return value_error("Missing or invalid " + name);
    if (v->size() > kMaxToolChecks)
        return value_error(name + " may hold at most " + std::to_string(kMaxToolChecks) + " " + entries + ", got " +
                           std::to_string(v->size()));
    return v;
}

}  // namespace

Result<CheckList> read_check_list(const OrderedJson& arguments) {
    const Error invalid = value_error("Missing or invalid check_to_qubits");
    auto array = check_sized_array(arguments, "check_to_qubits", "checks");
    if (!array) return array.error();
    const OrderedJson* v = array.value();
    CheckList checks;
    checks.reserve(v->size());
    for (const auto& check : *v) {
        if (!check.is_array()) return invalid;
        std::vector<uint32_t> qubits;
        qubits.reserve(check.size());
        for (const auto& q : check) {
            const auto index = unsigned_integer(q);
            if (!index || *index > UINT32_MAX) return invalid;
            if (*index >= kMaxToolQubits)
                return value_error("qubit index " + std::to_string(*index) + " in check_to_qubits is above the limit of " +
                                   std::to_string(kMaxToolQubits - 1));
            qubits.push_back(static_cast<uint32_t>(*index));
        }
        checks.push_back(std::move(qubits));
    }
    return checks;
}

Result<std::vector<uint8_t>> read_syndrome_bytes(const OrderedJson& arguments) {
    const Error invalid = value_error("Missing or invalid syndrome");
    auto array = check_sized_array(arguments, "syndrome", "values");
    if (!array) return array.error();
    const OrderedJson* v = array.value();
    std::vector<uint8_t> syndrome;
    syndrome.reserve(v->size());
    for (const auto& b : *v) {
        const auto x = unsigned_integer(b);
        if (!x || *x > 255) return invalid;
        syndrome.push_back(static_cast<uint8_t>(*x));
    }
    // A byte of the right size but not a bit is refused like the Python
    // classes refuse detection events, rather than read by its low bit.
    const auto bad = std::find_if(syndrome.begin(), syndrome.end(), [](uint8_t b) { return b > 1; });
    if (bad != syndrome.end())
        return value_error("syndrome values must be 0 or 1; syndrome[" + std::to_string(bad - syndrome.begin()) +
                           "] is " + std::to_string(*bad));
    return syndrome;
}

Result<std::optional<uint64_t>> read_bounded(const OrderedJson& arguments, const char* name, uint64_t min,
                                             uint64_t max) {
    const OrderedJson* v = argument(arguments, name);
    if (v == nullptr || v->is_null()) return std::optional<uint64_t>();
    const auto x = unsigned_integer(*v);
    if (!x || *x < min || *x > max)
        return value_error(std::string(name) + " must be an integer in [" + std::to_string(min) + ", " +
                           std::to_string(max) + "], got " + shown_value(*v));
    return std::optional<uint64_t>(*x);
}

}  // namespace vornex
