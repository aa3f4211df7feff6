// Rows of syndromes decoded on the worker pool by a BP engine, one
// workspace per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/thread_scratch.h"
#include "base/worker_pool.h"

namespace vornex {

// `engine.decode_into(syndrome, correction, workspace)` for each of n_shots
// rows of n_checks bytes into rows of n_qubits bytes. The pool splits
// finely; a workspace per piece would be rebuilt for a handful of shots, so
// each thread keeps one.
template <class Engine>
void decode_rows_on_pool(const Engine& engine, const uint8_t* syndromes, size_t n_shots, size_t n_checks,
                         uint8_t* corrections, size_t n_qubits) {
    parallel_for_ranges(n_shots, [&](size_t begin, size_t end) {
        ScratchLease<typename Engine::Workspace> lease;
        for (size_t i = begin; i < end; ++i)
            engine.decode_into({syndromes + i * n_checks, n_checks}, {corrections + i * n_qubits, n_qubits},
                               lease.get());
    });
}

}  // namespace vornex
