// The reference Union-Find decoder: a check graph plus the core, with a
// single-shot decode and a row-parallel batch decode. Other decoders hold one
// of these and call its native operations directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/shape.h"
#include "code/check_graph.h"
#include "dem/dem_model.h"
#include "dem/model_prediction.h"
#include "uf/on_check_graph.h"
#include "uf/uf_core.h"

namespace vornex {

// Decodes n_shots rows of graph.n_checks bytes into n_shots rows of
// graph.n_qubits bytes on the worker pool. Each piece of the split reuses one
// workspace; rows are independent, so the bytes never depend on the split.
void decode_rows(const CheckGraph& graph, const uint8_t* syndromes, size_t n_shots, uint8_t* corrections);

class UnionFindDecoder : public OnCheckGraph<UnionFindDecoder> {
public:
    using OnCheckGraph::OnCheckGraph;

    // Native decode for other decoders: a length mismatch is an internal
    // assertion (ErrorKind::Panic), not a user error.
    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome) const;

    // User-facing length check of the Python decode.
    Status check_syndrome_length(size_t length) const;

    // Shape already checked: syndromes holds n_shots * n_checks bytes.
    std::vector<uint8_t> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

    // A decoder on the graph view of a model (checks = detectors, qubits =
    // edges) that predicts the model's observables; fails on hyperedges.
    static Result<UnionFindDecoder> from_model(const DetectorErrorModel& model);

    // Observable prediction (dem/model_prediction.h); model() is nullptr
    // for a decoder built from check lists.
    const ModelObservables* model() const { return model_.get(); }
    auto make_predictor() const {
        return correction_predictor(*model_, graph_.n_qubits,
                                    [this, workspace = UfWorkspace{}](std::span<const uint8_t> events,
                                                                      std::span<uint8_t> correction) mutable {
                                        decode_into(graph_, events, workspace, correction);
                                    });
    }

private:
    std::shared_ptr<const ModelObservables> model_;
};

}  // namespace vornex
