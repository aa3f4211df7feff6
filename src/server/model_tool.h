// The "predict_observables" tool: a detector error model's text and
// detection events in, the observable flips a chosen decoder predicts out.
// Every size is bounded before anything is built from it, and long batches
// of shots report progress and stop when asked between chunks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/progress.h"
#include "base/result.h"
#include "dem/dem_reader.h"

namespace vornex {

// Longest model text a call may send (bytes).
inline constexpr uint64_t kMaxToolModelBytes = uint64_t{1} << 20;
// Bounds on the model once read: its detectors, observables and unrolled size.
inline constexpr DemReaderLimits kToolModelLimits{uint64_t{1} << 23, uint32_t{1} << 17, 64};
// Most shots one call decodes.
inline constexpr uint64_t kMaxToolShots = 10'000;

// The decoder families a call may choose, by their names in the family
// table (which also accepts their older names); the first is the default.
std::span<const std::string_view> model_decoder_names();

// A call's arguments, read in full before the model is.
struct PredictArguments {
    std::string model_text;
    size_t decoder = 0;  // index into model_decoder_names()
    // Shots as given: 0/1 rows ("detection_events") or lists of fired
    // detector ids ("fired_detectors"); shot k is values[begin[k], begin[k + 1]).
    bool fired_lists = false;
    std::vector<uint32_t> values;
    std::vector<size_t> begin{0};

    size_t n_shots() const { return begin.size() - 1; }
};

// The error is a malformed call (an invalid-params answer).
Result<PredictArguments> read_predict_arguments(const nlohmann::ordered_json& arguments);

// Reads the model, builds the decoder and predicts every shot, in chunks
// between which `progress` (may be null) is told and may stop the call. The
// error is the failure of a well-formed call (a model that does not read, a
// shot of the wrong width, a decoder that refuses the model).
Result<nlohmann::json> predict_observables_tool(const PredictArguments& arguments, ProgressSink* progress);

}  // namespace vornex
