// The decoder families that build from a detector error model: one row per
// family with the names callers use and what it accepts. It is the single
// table of family names: the tool server reads it here, the Python package
// and its command line through the module's decoder_families(), and the
// graph view names its hyperedge-accepting rows when it meets a hyperedge.
// New families add a row; nothing else keeps a list of names.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vornex {

// What sinter's name of a family starts with ("vornex_matching").
inline constexpr std::string_view kSinterPrefix = "vornex_";

// One family as callers name and choose it.
struct DecoderFamily {
    std::string_view name;        // the family's one name; sinter's is kSinterPrefix + name
    std::string_view class_name;  // the module's class whose from_detector_error_model builds it
    std::string_view aliases;     // older names still accepted, separated by blanks ("" for none)
    bool hyperedges;              // decodes error mechanisms that flip more than two detectors
    bool exact;                   // returns a most likely error (minimum weight) for every model it accepts
    std::string_view summary;     // one sentence: what it does and when to pick it
    std::string_view options;     // keyword options its class is built with, as in a spec
                                  // ("enable_correlations=true"); "" for none
};

// Every family, in listing order: the default (matching) first.
std::span<const DecoderFamily> decoder_families();

// The family called `name` (its name or an alias, with or without sinter's
// prefix), or null.
const DecoderFamily* find_decoder_family(std::string_view name);

// A family's aliases, one name each.
std::vector<std::string_view> aliases_of(const DecoderFamily& family);

// The names of the families that accept hyperedges, comma separated.
std::string hyperedge_family_names();

}  // namespace vornex
