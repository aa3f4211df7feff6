// WeightedUnionFindDecoder: the weighted Union-Find engine (weighted_uf.h)
// as a decoder of check lists with per-qubit weights, or of a detector error
// model with the weights ln((1 - p) / p) of its graph view, predicting the
// model's observables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "dem/dem_code.h"
#include "dem/dem_model.h"
#include "dem/model_prediction.h"
#include "uf/uf_core.h"
#include "uf/weighted_uf.h"

namespace vornex {

class WeightedUnionFindDecoder {
public:
    // The check-graph texts unchanged, or the first bad weight.
    static Result<WeightedUnionFindDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                                   QubitWeights weights);
    // Checks = detectors, qubits = edges of the graph view (then
    // placeholders); refuses hyperedges and probabilities above 0.5.
    static Result<WeightedUnionFindDecoder> from_model(const DetectorErrorModel& model);

    const WeightedUnionFind& engine() const { return engine_; }
    size_t n_qubits() const { return engine_.graph().n_qubits; }
    size_t n_checks() const { return engine_.graph().n_checks; }
    size_t num_observables() const { return model_ ? model_->num_observables() : 0; }

    Status check_syndrome_length(size_t length) const;
    // Length already checked.
    std::vector<uint8_t> decode(std::span<const uint8_t> syndrome) const { return engine_.decode(syndrome); }
    // Shape already checked: n_shots rows of n_checks bytes, on the worker pool.
    std::vector<uint8_t> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

    // Observable prediction (dem/model_prediction.h); model() is nullptr
    // for a decoder built from check lists.
    const ModelObservables* model() const { return model_.get(); }
    auto make_predictor() const {
        return correction_predictor(*model_, n_qubits(),
                                    [this, workspace = UfWorkspace{}](std::span<const uint8_t> events,
                                                                      std::span<uint8_t> correction) mutable {
                                        engine_.decode_into(events, workspace, correction);
                                    });
    }

private:
    explicit WeightedUnionFindDecoder(WeightedUnionFind engine) : engine_(std::move(engine)) {}

    WeightedUnionFind engine_;
    std::shared_ptr<const ModelObservables> model_;
};

}  // namespace vornex
