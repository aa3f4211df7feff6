// Text signatures double as parameter lists: "decode($self, syndrome)" names
// the method and its parameters, "x=None" marks an optional one and a bare
// "*" makes the parameters after it keyword-only, as in Python. Binding
// declarations therefore state each signature exactly once.
#pragma once

#include <string>
#include <vector>

namespace vornex::py {

// The most parameters any bound callable takes.
inline constexpr size_t kMaxParameters = 12;

struct Parameter {
    std::string name;
    bool optional = false;
    bool keyword_only = false;  // after a bare "*"
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

}  // namespace vornex::py
