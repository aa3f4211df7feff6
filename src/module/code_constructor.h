// Constructor of the classes built from (check_to_qubits, n_qubits): both
// arguments converted, then Native::create, whose error text becomes the
// class's ValueError unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "code/check_graph.h"
#include "module/args.h"
#include "module/errors.h"

namespace vornex::py {

template <class Native>
std::unique_ptr<Native> construct_from_code(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    return std::make_unique<Native>(unwrap(Native::create(std::move(checks), n_qubits)));
}

}  // namespace vornex::py
