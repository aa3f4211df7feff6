// Constructors that take their arguments straight from a native factory's
// parameter list: each parameter is converted from the call's argument at
// the same position, by its declared type, in order; the factory's result
// (the object, a Result of it, or a value the object is built from) becomes
// the new object, and an error text becomes the class's exception unchanged.
//
//   ClassSpec::of<construct_with<BenchmarkSuite, &BenchmarkSuite::create>>(
//       "BenchmarkSuite(check_to_qubits, n_qubits, n_samples, seed)")
#pragma once

#include <memory>
#include <tuple>
#include <utility>

#include "module/args.h"
#include "module/check_matrix_warning.h"
#include "module/decoder_methods.h"

namespace vornex::py {

template <class Native, auto Create>
std::unique_ptr<Native> construct_with(const Args& args) {
    warn_if_check_matrix(args);
    auto converted = detail::trailing_arguments<Create, 0>(args);
    return std::make_unique<Native>(detail::take(std::apply(Create, std::move(converted))));
}

// The classes built from (check_to_qubits, n_qubits) by Native::create.
template <class Native>
std::unique_ptr<Native> construct_from_code(const Args& args) {
    return construct_with<Native, &Native::create>(args);
}

}  // namespace vornex::py
