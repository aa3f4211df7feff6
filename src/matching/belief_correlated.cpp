#include "matching/belief_correlated.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "base/shape.h"
#include "base/thread_scratch.h"
#include "dem/shot_rows.h"

namespace vornex {

Result<BeliefCorrelatedDecoder> BeliefCorrelatedDecoder::create(const DetectorErrorModel& model,
                                                                const BpSettings& bp) {
    auto matching = MatchingDecoder::from_model(model, true);
    if (!matching) return matching.error();
    auto columns = matching_model_from(model);
    if (!columns) return columns.error();
    auto belief = BeliefMatchingDecoder::create(std::move(columns).value(), bp);
    if (!belief) return belief.error();
    BeliefCorrelatedDecoder d;
    d.belief_ = std::make_shared<const BeliefMatchingDecoder>(std::move(belief).value());
    d.matching_ = std::make_shared<const MatchingDecoder>(std::move(matching).value());
    return d;
}

Status BeliefCorrelatedDecoder::predict_into(std::span<const uint8_t> events, sparse::ObsMask& observables,
                                             Workspace& ws) const {
    ws.fired.clear();
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i] & 1) ws.fired.push_back(static_cast<sparse::NodeId>(i));
    observables = 0;
    if (ws.fired.empty()) return ok_status();
    belief_->belief_weights(events, ws.belief);
    // Both decoders read the same graph view, so belief edge e is engine edge e.
    ws.weights.resize(n_edges());
    for (size_t e = 0; e < ws.weights.size(); ++e)
        ws.weights[e] = {static_cast<uint32_t>(e), ws.belief.weights[e]};
    return matching_->match(ws.fired, true, ws.weights, observables);
}

Result<std::vector<uint8_t>> BeliefCorrelatedDecoder::predict_observables(std::span<const uint8_t> events,
                                                                          size_t n_shots, bool bit_packed,
                                                                          bool parallel) const {
    const BitRows in{n_detectors(), bit_packed};
    const BitRows out{n_observables(), bit_packed};
    if (events.size() != batch_bytes(n_shots, in.row_bytes()))
        return value_error("detection events have " + std::to_string(events.size()) + " bytes for " +
                           std::to_string(n_shots) + " shots, expected " + std::to_string(in.row_bytes()) +
                           " per shot");
    std::vector<uint8_t> predictions(batch_bytes(n_shots, out.row_bytes()));
    std::string failure;  // why a shot could not be matched, when one could not
    std::mutex failure_lock;
    auto status = predict_observable_rows(events.data(), in, n_shots, predictions.data(), out, parallel, [&] {
        return [&, lease = std::make_shared<ScratchLease<Workspace>>()](std::span<const uint8_t> row,
                                                                       std::span<uint8_t> observables) {
            sparse::ObsMask flips = 0;
            if (auto st = predict_into(row, flips, lease->get()); !st) {
                std::lock_guard guard(failure_lock);
                if (failure.empty()) failure = st.error().message;
                return;
            }
            for (size_t o = 0; o < observables.size(); ++o) observables[o] = static_cast<uint8_t>((flips >> o) & 1);
        };
    });
    if (!status) return status.error();
    if (!failure.empty()) return value_error(failure);
    return predictions;
}

}  // namespace vornex
