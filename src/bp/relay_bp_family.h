// The object behind the Python class RelayBPDecoder: the Relay-BP engine,
// built from check lists with one error rate or one per column, or from a
// detector error model (its error mechanisms as columns, hyperedges
// included, and its observables for predictions). Every call reads shared,
// immutable state with a per-thread workspace, so calls share the object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/thread_scratch.h"
#include "bp/decode_rows.h"
#include "bp/relay_bp.h"
#include "code/check_graph.h"
#include "dem/dem_code.h"
#include "dem/dem_model.h"

namespace vornex {

// A correction and what produced it.
struct RelayDecode {
    std::vector<uint8_t> correction;
    RelayOutcome outcome;
};

class RelayBpFamily {
public:
    static Result<RelayBpFamily> create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                        double error_rate, std::optional<std::vector<double>> error_channel,
                                        const RelaySettings& settings);
    // Columns are the model's error mechanisms, checks its detectors.
    static Result<RelayBpFamily> from_model(const DetectorErrorModel& model, const RelaySettings& settings);

    size_t n_qubits() const { return engine_->n_qubits(); }
    size_t n_checks() const { return engine_->n_checks(); }
    size_t num_observables() const { return model_ ? model_->num_observables() : 0; }
    const RelayBpEngine& engine() const { return *engine_; }
    // The model's detectors and observables; nullptr when built from check lists.
    const ModelObservables* model() const { return model_.get(); }
    auto make_predictor() const { return engine_predictor(*engine_, *model_); }

    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome) const;
    Result<RelayDecode> decode_report(std::span<const uint8_t> syndrome) const;
    // Rows of n_checks bytes in, (n_shots, n_qubits) out, on the worker pool.
    std::vector<uint8_t> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

private:
    RelayBpFamily() = default;
    Status check_syndrome(size_t length) const;

    std::shared_ptr<const RelayBpEngine> engine_;
    std::shared_ptr<const ModelObservables> model_;
};

}  // namespace vornex
