// Parity-check matrices as inputs: a dense 0/1 array (anything NumPy reads as
// a 2-D array) or a scipy.sparse matrix, turned into the check lists every
// decoder is built from. Row i lists the columns where row i holds a 1.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <utility>
#include <tuple>
#include <type_traits>

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
