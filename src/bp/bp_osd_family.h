// The object behind the Python class BPOSDDecoder: one BP-OSD engine, as the
// defined decoder's preset when every setting keeps its default, configured
// by the settings otherwise, and always configured when built from a
// detector error model (with the model's per-column priors and its
// observables for predictions).
//
// Defaults of the settings are the defined decoder's behaviour (min-sum
// without scaling, parallel schedule, the posterior stop, 50 iterations,
// OSD-0) for check lists and matrices; a detector error model starts from
// model_bp_osd_settings instead (scaled min-sum, syndrome stop, OSD-CS 7). With any other value the engine runs configured: BP iterations
// capped by max_iterations rather than 50, the error rate checked to lie in
// [0, 1], a qubit listed twice in a check read as one entry, and a check read
// as fired by bit 0 of its byte in both BP and OSD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/thread_scratch.h"
#include "bp/bp_osd_engine.h"
#include "bp/decode_rows.h"
#include "code/check_graph.h"
#include "dem/dem_code.h"

namespace vornex {

// The keyword settings of BPOSDDecoder.
struct BpOsdOptions {
    std::optional<std::vector<double>> error_channel;  // one flip probability per qubit
    BpOsdSettings settings = defined_bp_osd_settings();

    static BpOsdSettings defined_bp_osd_settings();
    // Defaults of the detector-error-model entry points, as the field runs
    // BP-OSD on circuit models (see model_bp_osd_settings in the .cpp).
    static BpOsdSettings model_bp_osd_settings();
    // True when nothing differs from the defined decoder's behaviour.
    bool is_defined() const;
};

class BpOsdFamily {
public:
    static Result<BpOsdFamily> create(CheckList check_to_qubits, std::optional<size_t> n_qubits, double error_rate,
                                      BpOsdOptions options = {});
    // Columns are the model's error mechanisms, checks its detectors.
    static Result<BpOsdFamily> from_model(const DetectorErrorModel& model, BpOsdSettings settings);

    size_t n_qubits() const;
    size_t n_checks() const;
    bool has_observables() const { return model_ != nullptr; }
    size_t num_observables() const { return model_ ? model_->num_observables() : 0; }
    // The model's detectors and observables; nullptr when built from check lists.
    const ModelObservables* model() const { return model_.get(); }
    // One shot's observable flips through the configurable engine, with the
    // workspace of the worker thread (one predictor per piece of the split).
    auto make_predictor() const { return engine_predictor(*engine_, *model_); }

    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome);
    Result<std::vector<uint8_t>> decode_timed(std::span<const uint8_t> syndrome, double max_latency_ms);
    Result<std::vector<double>> bp_decode(std::span<const uint8_t> syndrome, uint64_t max_iterations);
    // Rows of n_checks bytes in, (n_shots, n_qubits) out, on the worker pool.
    std::vector<uint8_t> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

    // Observable flips of n_shots rows of detection events (0/1 bytes, or
    // bits packed little-endian when bit_packed); rows of num_observables
    // bytes, or packed likewise.
    Result<std::vector<uint8_t>> predict_observables(std::span<const uint8_t> events, size_t n_shots,
                                                     bool bit_packed, bool parallel) const;

private:
    BpOsdFamily() = default;
    Status check_syndrome(size_t length) const;

    std::shared_ptr<const BpOsdEngine> engine_;
    BpOsdEngine::Workspace workspace_;
    std::shared_ptr<const ModelObservables> model_;
};

}  // namespace vornex
