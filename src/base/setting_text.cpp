#include "base/setting_text.h"

#include <charconv>

namespace vornex {

std::string quoted(std::string_view name) {
    std::string text;
    text.reserve(name.size() + 2);
    text.append(1, '\'').append(name).append(1, '\'');
    return text;
}

std::string shortest(double x) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
}

}  // namespace vornex
