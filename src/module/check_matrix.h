// Parity-check matrices as inputs: a dense 0/1 array (anything NumPy reads as
// a 2-D array) or a scipy.sparse matrix, turned into the check lists every
// decoder is built from. Row i lists the columns where row i holds a 1.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <tuple>
#include <type_traits>
#include <vector>

#include "code/check_graph.h"
#include "module/args.h"
#include "module/decoder_methods.h"
#include "module/python.h"

namespace vornex::py {

struct CheckMatrix {
    CheckList checks;
    uint64_t n_columns = 0;
};

// ValueError naming `argument` for anything but a 2-D matrix of 0s and 1s.
CheckMatrix read_check_matrix(PyObject* matrix, const char* argument);

// Per-column weights ln((1 - p) / p) from the error probabilities given at
// args[index] (none when absent): one per column, each strictly between 0
// and 1, else ValueError naming error_probabilities.
std::optional<std::vector<double>> weights_from_probabilities(const Args& args, size_t index, uint64_t n_columns);

// `from_check_matrix($type, check_matrix, *, weights=None,
// error_probabilities=None)` for a weighted family whose factory takes
// (check_to_qubits, n_qubits, weights): weights given directly, or derived
// from per-column error probabilities, never both.
template <class Native>
std::unique_ptr<Native> weighted_from_check_matrix(const Args& args) {
    CheckMatrix matrix = read_check_matrix(args[0], args.name(0));
    if (args.given(1) && args.given(2)) raise(PyExc_ValueError, "give weights or error_probabilities, not both");
    auto weights = args.given(2) ? weights_from_probabilities(args, 2, matrix.n_columns)
                                 : args.get<std::optional<std::vector<double>>>(1);
    using Parameters = typename detail::NativeOperation<decltype(&Native::create)>::Parameters;
    using QubitCount = std::decay_t<std::tuple_element_t<1, Parameters>>;
    return std::make_unique<Native>(
        detail::take(Native::create(std::move(matrix.checks), QubitCount(matrix.n_columns), std::move(weights))));
}

inline constexpr const char* kWeightedFromCheckMatrixSignature =
    "from_check_matrix($type, check_matrix, *, weights=None, error_probabilities=None)";
inline constexpr const char* kWeightedFromCheckMatrixDoc =
    "Build the decoder from a parity-check matrix (dense 0/1 array or scipy.sparse; one column per qubit),\n"
    "with optional per-column weights, or per-column error probabilities p weighted ln((1 - p) / p).";

// `from_check_matrix($type, check_matrix)` for the classes built from
// (check_to_qubits, n_qubits) by Native::create: n_qubits is the column count.
template <class Native>
std::unique_ptr<Native> from_check_matrix(const Args& args) {
    CheckMatrix matrix = read_check_matrix(args[0], args.name(0));
    using Parameters = typename detail::NativeOperation<decltype(&Native::create)>::Parameters;
    using QubitCount = std::decay_t<std::tuple_element_t<1, Parameters>>;
    return std::make_unique<Native>(
        detail::take(Native::create(std::move(matrix.checks), QubitCount(matrix.n_columns))));
}

// `from_check_matrix($type, check_matrix, *, ...)` for a family whose
// factory Create takes (check_to_qubits, n_qubits, settings...): n_qubits is
// the column count and each setting comes from the keyword at its place after
// check_matrix, converted by its declared type.
template <class Native, auto Create>
std::unique_ptr<Native> from_check_matrix_with(const Args& args) {
    using Parameters = typename detail::NativeOperation<decltype(Create)>::Parameters;
    constexpr size_t kSettings = std::tuple_size_v<Parameters> - 2;
    if (args.size() != 1 + kSettings)
        throw std::logic_error("from_check_matrix names other keywords than its factory's settings");
    CheckMatrix matrix = read_check_matrix(args[0], args.name(0));
    using QubitCount = std::decay_t<std::tuple_element_t<1, Parameters>>;
    auto settings = [&]<size_t... I>(std::index_sequence<I...>) {
        return std::tuple<detail::ConvertedParameter<Create, 2 + I>...>{
            args.get<detail::ConvertedParameter<Create, 2 + I>>(1 + I)...};
    }(std::make_index_sequence<kSettings>{});
    return std::make_unique<Native>(detail::take(std::apply(
        [&](auto&&... rest) { return Create(std::move(matrix.checks), QubitCount(matrix.n_columns), std::move(rest)...); },
        std::move(settings))));
}

inline constexpr const char* kFromCheckMatrixSignature = "from_check_matrix($type, check_matrix)";
inline constexpr const char* kFromCheckMatrixDoc =
    "Build the decoder from a parity-check matrix: a dense 2-D array of 0s and 1s (one row per check,\n"
    "one column per qubit) or a scipy.sparse matrix. n_qubits is the number of columns.";

}  // namespace vornex::py
