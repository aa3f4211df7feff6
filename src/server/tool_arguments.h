// Reading a tool call's "arguments" against the documented bounds. Every
// size a request can name is checked here, before anything is built from
// it; a value outside its bounds is refused (never replaced by a default),
// with a text that names the argument, its bounds and the value given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/result.h"
#include "code/check_graph.h"

namespace vornex {

// Largest qubit count a tool builds a decoder for; qubit indices lie below it.
inline constexpr uint64_t kMaxToolQubits = uint64_t{1} << 20;
// Most checks (and so syndrome bits) a tool call may name.
inline constexpr uint64_t kMaxToolChecks = uint64_t{1} << 20;
// Bounds of "n_samples" for "benchmark_decoder", and its default.
inline constexpr uint64_t kMaxToolBenchmarkSamples = 1'000'000;
inline constexpr uint64_t kToolBenchmarkSamples = 1000;

// A JSON integer that is not negative, or nothing.
std::optional<uint64_t> unsigned_integer(const nlohmann::ordered_json& v);

// The value as the caller wrote it, shortened so that an error text stays
// small whatever was sent.
std::string shown_value(const nlohmann::ordered_json& v);

// The named member of the arguments object, or null when absent (or when the
// arguments are not an object).
const nlohmann::ordered_json* argument(const nlohmann::ordered_json& arguments, const char* name);

// "check_to_qubits": an array of at most kMaxToolChecks arrays of qubit
// indices below kMaxToolQubits.
Result<CheckList> read_check_list(const nlohmann::ordered_json& arguments);

// "syndrome": an array of at most kMaxToolChecks integers in 0 ... 255
// ("Missing or invalid syndrome" otherwise), each 0 or 1.
Result<std::vector<uint8_t>> read_syndrome_bytes(const nlohmann::ordered_json& arguments);

// An optional integer argument in [min, max]: nothing when absent or null, an error
// naming the bounds when present but not such an integer.
Result<std::optional<uint64_t>> read_bounded(const nlohmann::ordered_json& arguments, const char* name, uint64_t min,
                                             uint64_t max);

}  // namespace vornex
