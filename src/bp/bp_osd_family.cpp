#include "bp/bp_osd_family.h"

#include <string>

#include "base/shape.h"
#include "dem/model_budget.h"
#include "dem/dem_model.h"
#include "dem/shot_rows.h"

namespace vornex {
namespace {

// Ordered-statistics elimination keeps a detectors x detectors bit matrix.
constexpr ModelFootprint kBpFootprint{"a BP-OSD decoder", 24, 0.125};

}  // namespace

BpOsdSettings BpOsdOptions::defined_bp_osd_settings() { return vornex::defined_bp_osd_settings(); }

// Min-sum scaled by 0.625 and the syndrome stop are what ldpc's circuit-level
// (sinter) BP-OSD runs. Its iteration cap (one per column) is kept at 50:
// a shot BP has not solved in 50 rarely converges later, and the cap decides
// the cost of every unsolved shot. OSD-CS of order 7 rather than ldpc's OSD-0:
// on circuit models it roughly halves colour-code failures for a few per cent
// more time, since only the shots BP leaves unsolved pay for it.
BpOsdSettings BpOsdOptions::model_bp_osd_settings() {
    BpOsdSettings s = defined_bp_osd_settings();
    s.bp.method = BpMethod::MinSum;
    s.bp.ms_scaling_factor = 0.625;
    s.bp.schedule = BpSchedule::Parallel;
    s.bp.stop = BpStop::Syndrome;
    s.bp.max_iterations = 50;
    s.osd.method = OsdMethod::CombinationSweep;
    s.osd.order = 7;
    return s;
}

bool BpOsdOptions::is_defined() const {
    const BpOsdSettings d = defined_bp_osd_settings();
    const BpSettings& b = settings.bp;
    return !error_channel && b.method == d.bp.method && b.ms_scaling_factor == d.bp.ms_scaling_factor &&
           b.schedule == d.bp.schedule && b.stop == d.bp.stop && b.max_iterations == d.bp.max_iterations &&
           settings.osd.method == d.osd.method && settings.osd.order == d.osd.order;
}

Result<BpOsdFamily> BpOsdFamily::create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                        double error_rate, BpOsdOptions options) {
    BpOsdFamily family;
    if (options.is_defined()) {
        auto defined = BpOsdEngine::create_defined(check_to_qubits, n_qubits, error_rate);
        if (!defined) return defined.error();
        family.engine_ = std::make_shared<const BpOsdEngine>(std::move(defined).value());
        return family;
    }
    const size_t nq = n_qubits ? *n_qubits : derived_n_qubits(check_to_qubits);
    if (auto fits = check_qubit_budget(nq); !fits) return fits.error();
    std::vector<double> rates = options.error_channel ? std::move(*options.error_channel)
                                                      : std::vector<double>(nq, error_rate);
    if (!options.error_channel && !(error_rate >= 0.0 && error_rate <= 1.0))
        return value_error("error_rate must be in [0, 1] when settings are given");
    auto engine = BpOsdEngine::create(check_to_qubits, nq, std::move(rates), options.settings);
    if (!engine) return engine.error();
    family.engine_ = std::make_shared<const BpOsdEngine>(std::move(engine).value());
    return family;
}

Result<BpOsdFamily> BpOsdFamily::from_model(const DetectorErrorModel& dem, BpOsdSettings settings) {
    if (auto fits = check_model_footprint(dem, kBpFootprint); !fits) return fits.error();
    CheckList detector_columns(dem.num_detectors);
    std::vector<uint32_t> ids, observable_begin{0}, observables;
    for (size_t j = 0; j < dem.num_errors(); ++j) {
        column_detectors(dem, j, ids);
        for (uint32_t d : ids) detector_columns[d].push_back(static_cast<uint32_t>(j));
        column_observables(dem, j, ids);
        observables.insert(observables.end(), ids.begin(), ids.end());
        observable_begin.push_back(static_cast<uint32_t>(observables.size()));
    }
    auto engine = BpOsdEngine::create(detector_columns, dem.num_errors(), dem.probability, settings);
    if (!engine) return engine.error();
    BpOsdFamily family;
    family.engine_ = std::make_shared<const BpOsdEngine>(std::move(engine).value());
    family.model_ = std::make_shared<const ModelObservables>(
        ModelObservables{static_cast<uint32_t>(dem.num_detectors), ObservableMap(dem.num_observables, observable_begin, observables)});
    return family;
}

size_t BpOsdFamily::n_qubits() const { return engine_->n_qubits(); }
size_t BpOsdFamily::n_checks() const { return engine_->n_checks(); }

Status BpOsdFamily::check_syndrome(size_t length) const {
    if (length != n_checks())
        return value_error("Syndrome length " + std::to_string(length) + " != n_checks " + std::to_string(n_checks()));
    return ok_status();
}

Result<std::vector<uint8_t>> BpOsdFamily::decode(std::span<const uint8_t> syndrome) {
    if (auto st = check_syndrome(syndrome.size()); !st) return st.error();
    std::vector<uint8_t> correction(n_qubits());
    engine_->decode_into(syndrome, correction, workspace_);
    return correction;
}

Result<std::vector<uint8_t>> BpOsdFamily::decode_timed(std::span<const uint8_t> syndrome, double max_latency_ms) {
    if (auto st = check_syndrome(syndrome.size()); !st) return st.error();
    std::vector<uint8_t> correction(n_qubits());
    engine_->decode_into(syndrome, correction, workspace_, BpBudget{max_latency_ms});
    return correction;
}

Result<std::vector<double>> BpOsdFamily::bp_decode(std::span<const uint8_t> syndrome, uint64_t max_iterations) {
    if (auto st = check_syndrome(syndrome.size()); !st) return st.error();
    engine_->run_bp(syndrome, max_iterations, workspace_);
    return std::vector<double>(workspace_.bp.posterior.begin(), workspace_.bp.posterior.begin() + n_qubits());
}

std::vector<uint8_t> BpOsdFamily::batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, n_qubits()));
    engine_->decode_batch(syndromes.data(), n_shots, out.data());
    return out;
}

Result<std::vector<uint8_t>> BpOsdFamily::predict_observables(std::span<const uint8_t> events, size_t n_shots,
                                                              bool bit_packed, bool parallel) const {
    if (!model_)
        return value_error(
            "BPOSDDecoder has no observables: it was built from check lists; use "
            "BPOSDDecoder.from_detector_error_model");
    const BitRows in{engine_->n_checks(), bit_packed};
    const BitRows out{model_->num_observables(), bit_packed};
    if (events.size() != batch_bytes(n_shots, in.row_bytes()))
        return value_error("detection events have " + std::to_string(events.size()) + " bytes per " +
                           std::to_string(n_shots) + " shots, expected " + std::to_string(in.row_bytes()) +
                           " per shot");
    std::vector<uint8_t> predictions(batch_bytes(n_shots, out.row_bytes()));
    auto status = predict_observable_rows(events.data(), in, n_shots, predictions.data(), out, parallel,
                                          [&] { return make_predictor(); });
    if (!status) return status.error();
    return predictions;
}

}  // namespace vornex
