// Observable predictions of decoders built from a detector error model,
// written once for every family (see dem/model_prediction.h for what a
// family's native class provides):
//
//   .method<predict_observables_method<D>>("predict_observables($self, detection_events, *, bit_packed=False)")
//   .method<predict_observables_batch_method<D>>(
//       "predict_observables_batch($self, detection_events, *, bit_packed=False)")
//
// Detection events are uint8 or bool arrays holding 0 and 1, one per
// detector, or with bit_packed ceil(num_detectors / 8) bytes per shot in
// little bit order; predictions come back in the same packing. Arrays in any
// memory layout are accepted (a non-contiguous one is copied first). A batch
// runs with the interpreter lock released and stops at Ctrl-C.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dem/model_prediction.h"
#include "module/args.h"
#include "module/arrays.h"
#include "module/class_def.h"
#include "module/errors.h"
#include "module/ref.h"
#include "module/released_work.h"

namespace vornex::py {

// Signatures and descriptions shared by every family.
inline constexpr const char* kFromModelDoc =
    "Build the decoder from a detector error model (DetectorErrorModel, model text, a path or a "
    "stim.DetectorErrorModel): one check per detector, one column per edge of its graph view.";
inline constexpr const char* kPredictSignature = "predict_observables($self, detection_events, *, bit_packed=False)";
inline constexpr const char* kPredictDoc =
    "Predicted observable flips of one shot: uint8 (num_observables,), or bit-packed (ceil(num_observables / 8),).";
inline constexpr const char* kPredictBatchSignature =
    "predict_observables_batch($self, detection_events, *, bit_packed=False)";
inline constexpr const char* kPredictBatchDoc =
    "Predicted observable flips of (shots, num_detectors) detection events, or (shots, ceil(num_detectors / 8)) "
    "bit-packed, in the same packing; shots run on the worker pool.";

namespace detail {

// Detection events as C-contiguous bytes; `array` keeps a copy alive when
// one was needed.
struct EventRows {
    Ref array;
    std::span<const uint8_t> bytes;
    size_t n_shots = 0;
};

// Checks type, dtype, rank and row width (TypeError for the first two,
// ValueError naming the expected shape otherwise). `batch` selects
// (shots, width) over (width,).
EventRows event_rows(const Args& args, size_t i, const ModelObservables& model, bool bit_packed, bool batch);

// args[i] as an array of uint8 or bool (TypeError naming the argument
// otherwise), any shape.
PyArrayObject* event_array(const Args& args, size_t i);

// "<Class> has no observables: ..." for a decoder built from check lists.
[[noreturn]] void raise_no_model(const char* class_name);

template <class D>
const ModelObservables& model_of(const D& decoder) {
    if (decoder.model() == nullptr) raise_no_model(class_name_of<D>());
    return *decoder.model();
}

}  // namespace detail

template <ModelFamily D>
PyObject* predict_observables_method(const D& decoder, const Args& args) {
    const ModelObservables& model = detail::model_of(decoder);
    const bool bit_packed = args.get<std::optional<bool>>(1).value_or(false);
    detail::EventRows rows = detail::event_rows(args, 0, model, bit_packed, false);
    auto predictions = unwrap(predict_observables(decoder, rows.bytes, 1, bit_packed, false));
    return to_array(std::move(predictions));
}

template <ModelFamily D>
PyObject* predict_observables_batch_method(const D& decoder, const Args& args) {
    const ModelObservables& model = detail::model_of(decoder);
    const bool bit_packed = args.get<std::optional<bool>>(1).value_or(false);
    detail::EventRows rows = detail::event_rows(args, 0, model, bit_packed, true);
    auto predictions = unwrap(
        without_interpreter([&] { return predict_observables(decoder, rows.bytes, rows.n_shots, bit_packed, true); }));
    const size_t width = BitRows{model.num_observables(), bit_packed}.row_bytes();
    return to_array(std::move(predictions), {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(width)});
}

}  // namespace vornex::py
