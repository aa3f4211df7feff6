// Texts of settings in error messages, and settings given by name: the
// errors list the accepted names and quote what was given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/result.h"

namespace vornex {

// 'name', quoted as the errors show a given name.
std::string quoted(std::string_view name);

// The shortest text that reads back as the same double.
std::string shortest(double x);

// One accepted name of a setting; aliases are accepted but not listed.
template <class E>
struct NamedValue {
    std::string_view name;
    E value;
    bool listed = true;
};

// The value `name` stands for, or "<setting> must be 'a', 'b' or 'c', got
// '<name>'" listing the listed names in order.
template <class E, size_t N>
Result<E> parse_named(std::string_view setting, std::string_view name, const NamedValue<E> (&choices)[N]) {
    for (const auto& choice : choices)
        if (choice.name == name) return choice.value;
    std::string listing;
    size_t listed = 0, remaining = 0;
    for (const auto& choice : choices) remaining += choice.listed;
    for (const auto& choice : choices) {
        if (!choice.listed) continue;
        if (listed > 0) listing += listed + 1 == remaining ? " or " : ", ";
        listing += quoted(choice.name);
        ++listed;
    }
    return value_error(std::string(setting) + " must be " + listing + ", got " + quoted(name));
}

}  // namespace vornex
