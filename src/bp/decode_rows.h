// Rows of syndromes decoded on the worker pool by a BP engine, one
// workspace per thread, and a BP engine's predictor of observable flips.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "base/thread_scratch.h"
#include "base/worker_pool.h"
#include "dem/model_prediction.h"

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

// One shot's observable flips through `engine`, with the worker thread's
// workspace (one predictor per piece of a split); both arguments outlive it.
template <class Engine>
auto engine_predictor(const Engine& engine, const ModelObservables& model) {
    return correction_predictor(model, engine.n_qubits(),
                                [&engine, lease = std::make_shared<ScratchLease<typename Engine::Workspace>>()](
                                    std::span<const uint8_t> row, std::span<uint8_t> correction) {
                                    engine.decode_into(row, correction, lease->get());
                                });
}

}  // namespace vornex
