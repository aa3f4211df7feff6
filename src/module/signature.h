// Text signatures double as parameter lists: "decode($self, syndrome)" names
// the method and its parameters, "x=None" marks an optional one and a bare
// "*" makes the parameters after it keyword-only, as in Python. Binding
// declarations therefore state each signature exactly once.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "module/python.h"

namespace vornex::py {

// The most parameters any bound callable takes.
inline constexpr size_t kMaxParameters = 20;

struct Parameter {
    std::string name;
    bool optional = false;
    bool keyword_only = false;  // after a bare "*"
    std::string default_text;   // "False" in "bit_packed=False"; empty when required
    // The default as an object, made when the callable is added to the
    // module and kept for the life of the process; the call sees it in
    // place of an omitted argument.
    PyObject* default_value = nullptr;
};

struct Signature {
    std::string name;                    // "decode"
    std::vector<Parameter> parameters;   // without $self / $type
    std::string docstring;               // "decode($self, syndrome)\n--\n\n" + description
    size_t required() const;
    // How many leading parameters may be passed by position.
    size_t positional() const;
};

// Parses "name(a, b=None)" and builds the docstring from it and `description`.
// Throws std::length_error beyond kMaxParameters parameters.
Signature parse_signature(const std::string& text_signature, const std::string& description);

// Appends `description` to the docstring of a signature that was given no
// description; a given one is never replaced.
void describe_if_blank(Signature& signature, std::string_view description);

// Makes the default objects of `signature` (None, True, False, int and float
// literals); std::logic_error for any other default text. Needs the
// interpreter, so it runs when the callable is added to the module.
void make_defaults(Signature& signature);

}  // namespace vornex::py
