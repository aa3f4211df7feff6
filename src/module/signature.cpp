#include "module/signature.h"

#include <stdexcept>

namespace vornex::py {
namespace {

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

size_t Signature::positional() const {
    size_t count = 0;
    while (count < parameters.size() && !parameters[count].keyword_only) ++count;
    return count;
}

size_t Signature::required() const {
    size_t count = 0;
    while (count < parameters.size() && !parameters[count].optional) ++count;
    return count;
}

Signature parse_signature(const std::string& text_signature, const std::string& description) {
    Signature sig;
    const auto open = text_signature.find('(');
    const auto close = text_signature.rfind(')');
    sig.name = text_signature.substr(0, open);
    std::string inner = text_signature.substr(open + 1, close - open - 1);
    size_t start = 0;
    bool keyword_only = false;
    while (start <= inner.size() && !inner.empty()) {
        auto comma = inner.find(',', start);
        if (comma == std::string::npos) comma = inner.size();
        std::string item = trim(inner.substr(start, comma - start));
        start = comma + 1;
        if (item.empty() || item[0] == '$') continue;
        if (item == "*") {
            keyword_only = true;
            continue;
        }
        Parameter parameter;
        parameter.keyword_only = keyword_only;
        const auto equals = item.find('=');
        parameter.optional = equals != std::string::npos;
        parameter.name = trim(item.substr(0, equals));
        if (parameter.optional) parameter.default_text = trim(item.substr(equals + 1));
        sig.parameters.push_back(parameter);
    }
    if (sig.parameters.size() > kMaxParameters)
        throw std::length_error("too many parameters in text signature " + text_signature);
    sig.docstring = text_signature + "\n--\n\n" + description;
    return sig;
}

void describe_if_blank(Signature& signature, std::string_view description) {
    constexpr std::string_view kSeparator = "\n--\n\n";
    if (signature.docstring.ends_with(kSeparator)) signature.docstring += description;
}

namespace {

PyObject* default_object(const std::string& text) {
    if (text == "None") return Py_NewRef(Py_None);
    if (text == "True") return Py_NewRef(Py_True);
    if (text == "False") return Py_NewRef(Py_False);
    // A quoted literal without escapes: 'minimum_sum'.
    if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"') && text.back() == text.front()) {
        PyObject* value = PyUnicode_FromStringAndSize(text.data() + 1, static_cast<Py_ssize_t>(text.size() - 2));
        if (value != nullptr) return value;
    }
    const bool is_float = text.find_first_of(".eE") != std::string::npos;
    PyObject* value = nullptr;
    if (is_float) {
        char* end = nullptr;
        const double number = PyOS_string_to_double(text.c_str(), &end, nullptr);
        if (end != nullptr && *end == '\0' && !PyErr_Occurred()) value = PyFloat_FromDouble(number);
    } else {
        char* end = nullptr;
        value = PyLong_FromString(text.c_str(), &end, 10);
        if (value != nullptr && (end == nullptr || *end != '\0')) Py_CLEAR(value);
    }
    if (value == nullptr) {
        PyErr_Clear();
        throw std::logic_error("unsupported default in text signature: " + text);
    }
    return value;
}

}  // namespace

void make_defaults(Signature& signature) {
    for (Parameter& parameter : signature.parameters)
        if (parameter.optional && parameter.default_value == nullptr)
            parameter.default_value = default_object(parameter.default_text);
}

}  // namespace vornex::py
