#include "bp/relay_bp_family.h"

#include <string>

#include "base/shape.h"
#include "dem/model_budget.h"
#include "dem/dem_columns.h"

namespace vornex {

Result<RelayBpFamily> RelayBpFamily::create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                            double error_rate, std::optional<std::vector<double>> error_channel,
                                            const RelaySettings& settings) {
    const size_t nq = n_qubits ? *n_qubits : derived_n_qubits(check_to_qubits);
    if (auto fits = check_qubit_budget(nq); !fits) return fits.error();
    if (!error_channel && !(error_rate >= 0.0 && error_rate <= 1.0))
        return value_error("error_rate must be in [0, 1], got " + std::to_string(error_rate));
    const std::vector<double> rates = error_channel ? std::move(*error_channel) : std::vector<double>(nq, error_rate);
    auto engine = RelayBpEngine::create(check_to_qubits, nq, rates, settings);
    if (!engine) return engine.error();
    RelayBpFamily family;
    family.engine_ = std::make_shared<const RelayBpEngine>(std::move(engine).value());
    return family;
}

Result<RelayBpFamily> RelayBpFamily::from_model(const DetectorErrorModel& model, const RelaySettings& settings) {
    if (auto fits = check_model_footprint(model, {"a Relay-BP decoder", 24, 0.125}); !fits) return fits.error();
    DemColumns c = dem_columns(model);
    auto engine = RelayBpEngine::create(c.detector_columns, c.n_columns(), c.probability, settings);
    if (!engine) return engine.error();
    RelayBpFamily family;
    family.engine_ = std::make_shared<const RelayBpEngine>(std::move(engine).value());
    family.model_ = std::move(c.observables);
    return family;
}

Status RelayBpFamily::check_syndrome(size_t length) const {
    if (length != n_checks())
        return value_error("Syndrome length " + std::to_string(length) + " != n_checks " + std::to_string(n_checks()));
    return ok_status();
}

Result<std::vector<uint8_t>> RelayBpFamily::decode(std::span<const uint8_t> syndrome) const {
    auto report = decode_report(syndrome);
    if (!report) return report.error();
    return std::move(report.value().correction);
}

Result<RelayDecode> RelayBpFamily::decode_report(std::span<const uint8_t> syndrome) const {
    if (auto st = check_syndrome(syndrome.size()); !st) return st.error();
    RelayDecode out;
    out.correction.resize(n_qubits());
    ScratchLease<RelayBpEngine::Workspace> lease;
    out.outcome = engine_->decode_into(syndrome, out.correction, lease.get());
    return out;
}

std::vector<uint8_t> RelayBpFamily::batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, n_qubits()));
    engine_->decode_batch(syndromes.data(), n_shots, out.data());
    return out;
}

}  // namespace vornex
