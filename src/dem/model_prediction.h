// Observable predictions of any decoder built from a detector error model.
//
// A decoder family opts in with two members:
//   const ModelObservables* model() const;  // nullptr when built from check lists
//   auto make_predictor() const;            // a predictor as described in shot_rows.h
// Families whose engine corrects columns build their predictor with
// correction_predictor; an engine that finds the observable flips itself
// (a matching engine tracking them along its paths) writes them directly.
#pragma once

#include <concepts>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "base/shape.h"
#include "dem/dem_code.h"
#include "dem/shot_rows.h"

namespace vornex {

// A predictor for an engine that writes per-column corrections:
// decode_into(events, correction) fills one byte per column, and the columns'
// observables are read off it. The correction row is the predictor's own.
template <class DecodeInto>
auto correction_predictor(const ModelObservables& model, size_t n_columns, DecodeInto decode_into) {
    return [&map = model.map, decode_into = std::move(decode_into), correction = std::vector<uint8_t>(n_columns)](
               std::span<const uint8_t> events, std::span<uint8_t> observables) mutable {
        decode_into(events, std::span<uint8_t>(correction));
        map.apply(correction, observables);
    };
}

// Predictions for n_shots rows of detection events (num_detectors bytes per
// row, or ceil(num_detectors / 8) when bit_packed), as rows of
// num_observables bytes (or packed likewise). The caller has checked that
// the decoder has a model and that `events` holds the rows.
template <class Decoder>
    requires requires(const Decoder& d) {
        { d.model() } -> std::convertible_to<const ModelObservables*>;
        d.make_predictor();
    }
Result<std::vector<uint8_t>> predict_observables(const Decoder& decoder, std::span<const uint8_t> events,
                                                 size_t n_shots, bool bit_packed, bool parallel) {
    const ModelObservables& model = *decoder.model();
    const BitRows in{model.num_detectors, bit_packed};
    const BitRows out{model.num_observables(), bit_packed};
    std::vector<uint8_t> predictions(batch_bytes(n_shots, out.row_bytes()));
    auto status = predict_observable_rows(events.data(), in, n_shots, predictions.data(), out, parallel,
                                          [&] { return decoder.make_predictor(); });
    if (!status) return status.error();
    return predictions;
}

// A family with a prediction loop of its own (one that reports a shot it
// cannot decode, or one that tracks observables along its matching) offers
// it as a member; a family with a predictor keeps the path above.
template <class Decoder>
    requires(requires(const Decoder& d, std::span<const uint8_t> events, size_t n_shots, bool flag) {
        { d.predict_observables(events, n_shots, flag, flag) } -> std::same_as<Result<std::vector<uint8_t>>>;
    } && !requires(const Decoder& d) { d.make_predictor(); })
Result<std::vector<uint8_t>> predict_observables(const Decoder& decoder, std::span<const uint8_t> events,
                                                 size_t n_shots, bool bit_packed, bool parallel) {
    return decoder.predict_observables(events, n_shots, bit_packed, parallel);
}

// Predictions from an engine that can fail on a shot (one with no perfect
// matching): make_predictor() gives, per worker, a callable
// (events, observables) -> Status. Checks that `events` holds n_shots rows;
// the first failure's text is returned instead of the predictions.
template <class MakePredictor>
Result<std::vector<uint8_t>> predict_observables_checked(size_t n_detectors, size_t n_observables,
                                                         std::span<const uint8_t> events, size_t n_shots,
                                                         bool bit_packed, bool parallel,
                                                         MakePredictor&& make_predictor) {
    const BitRows in{n_detectors, bit_packed};
    const BitRows out{n_observables, bit_packed};
    if (events.size() != batch_bytes(n_shots, in.row_bytes()))
        return value_error("detection events have " + std::to_string(events.size()) + " bytes for " +
                           std::to_string(n_shots) + " shots, expected " + std::to_string(in.row_bytes()) +
                           " per shot");
    std::vector<uint8_t> predictions(batch_bytes(n_shots, out.row_bytes()));
    std::string failure;  // why a shot could not be decoded, when one could not
    std::mutex failure_lock;
    auto status = predict_observable_rows(events.data(), in, n_shots, predictions.data(), out, parallel, [&] {
        return [&, predict = make_predictor()](std::span<const uint8_t> row, std::span<uint8_t> observables) mutable {
            if (auto st = predict(row, observables); !st) {
                std::lock_guard guard(failure_lock);
                if (failure.empty()) failure = st.error().message;
            }
        };
    });
    if (!status) return status.error();
    if (!failure.empty()) return value_error(failure);
    return predictions;
}

// The contract of a decoder family built from a detector error model, as the
// bindings, the sinter plugin, the CLI and the tool server rely on it: the
// model's sizes (num_detectors, num_observables; nullptr when the decoder was
// built from check lists) and predictions of n_shots rows in either packing,
// on one thread or on the worker pool. A family meets the last either through
// make_predictor and the generic predict_observables above, or with an
// overload of its own (a matching engine that tracks observables itself).
template <class D>
concept ModelFamily = requires(const D& decoder, std::span<const uint8_t> events, size_t n_shots, bool flag) {
    { decoder.model() } -> std::convertible_to<const ModelObservables*>;
    { predict_observables(decoder, events, n_shots, flag, flag) } -> std::same_as<Result<std::vector<uint8_t>>>;
};

}  // namespace vornex
