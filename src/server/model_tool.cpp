#include "server/model_tool.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>

#include "dem/model_prediction.h"
#include "bp/relay_bp_family.h"
#include "dem/decoder_families.h"
#include "matching/matching_decoder.h"
#include "server/tool_arguments.h"
#include "uf/decoder.h"
#include "uf/weighted_decoder.h"

namespace vornex {
namespace {

using Json = nlohmann::json;  // built values: members sorted by key
using OrderedJson = nlohmann::ordered_json;

// Predicts rows of 0/1 detection events: (events, n_shots) -> n_shots rows
// of one byte per observable.
using ShotPredictor = std::function<Result<std::vector<uint8_t>>(std::span<const uint8_t>, size_t)>;

// Any family with from_model() and observable predictions slots in here;
// `options` follow the model into from_model.
template <class Decoder, auto... options>
Result<ShotPredictor> build_predictor(const DetectorErrorModel& model) {
    auto decoder = Decoder::from_model(model, options...);
    if (!decoder) return decoder.error();
    auto shared = std::make_shared<const Decoder>(std::move(decoder.value()));
    return ShotPredictor([shared](std::span<const uint8_t> events, size_t n_shots) {
        return predict_observables(*shared, events, n_shots, false, n_shots > 1);
    });
}

// Relay-BP with its default settings.
Result<ShotPredictor> build_relay_bp(const DetectorErrorModel& model) {
    auto decoder = RelayBpFamily::from_model(model, RelaySettings{});
    if (!decoder) return decoder.error();
    auto shared = std::make_shared<const RelayBpFamily>(std::move(decoder.value()));
    return ShotPredictor([shared](std::span<const uint8_t> events, size_t n_shots) {
        return predict_observables(*shared, events, n_shots, false, n_shots > 1);
    });
}

struct ModelDecoderFamily {
    std::string_view name;  // its name in the family table
    Result<ShotPredictor> (*build)(const DetectorErrorModel&);
};

constexpr ModelDecoderFamily kFamilies[] = {
    {"matching", build_predictor<MatchingDecoder>},
    {"uf", build_predictor<UnionFindDecoder>},
    {"weighted_uf", build_predictor<WeightedUnionFindDecoder>},
    {"matching_correlated", build_predictor<MatchingDecoder, true>},
    {"relay_bp", build_relay_bp},
};

constexpr auto kFamilyNames = [] {
    std::array<std::string_view, std::size(kFamilies)> names{};
    for (size_t i = 0; i < names.size(); ++i) names[i] = kFamilies[i].name;
    return names;
}();

// Event bytes decoded between two progress reports.
constexpr size_t kChunkEventBytes = size_t{1} << 20;
constexpr size_t kMaxChunkShots = 1024;

Result<std::string> read_model_text(const OrderedJson& arguments) {
    const OrderedJson* v = argument(arguments, "detector_error_model");
    if (v == nullptr || !v->is_string()) return value_error("Missing or invalid detector_error_model");
    const std::string& text = v->get_ref<const std::string&>();
    if (text.size() > kMaxToolModelBytes)
        return value_error("detector_error_model may hold at most " + std::to_string(kMaxToolModelBytes) +
                           " bytes, got " + std::to_string(text.size()));
    return text;
}

Result<size_t> read_decoder(const OrderedJson& arguments) {
    const OrderedJson* v = argument(arguments, "decoder");
    if (v == nullptr || v->is_null()) return size_t{0};
    // Any name of a family in the table (an older one too) that this tool builds.
    const DecoderFamily* family = v->is_string() ? find_decoder_family(v->get_ref<const std::string&>()) : nullptr;
    for (size_t i = 0; family != nullptr && i < kFamilyNames.size(); ++i)
        if (family->name == kFamilyNames[i]) return i;
    std::string names;
    for (std::string_view name : kFamilyNames) names += (names.empty() ? "" : ", ") + std::string(name);
    return value_error("decoder must be one of " + names + ", got " + shown_value(*v));
}

// Exactly one of the two shot forms, each an array of at most kMaxToolShots
// arrays of integers no larger than `max_value`.
Status read_shots(const OrderedJson& arguments, PredictArguments& out) {
    const OrderedJson* rows = argument(arguments, "detection_events");
    const OrderedJson* lists = argument(arguments, "fired_detectors");
    if (rows != nullptr && rows->is_null()) rows = nullptr;
    if (lists != nullptr && lists->is_null()) lists = nullptr;
    if ((rows == nullptr) == (lists == nullptr))
        return value_error("Give exactly one of detection_events and fired_detectors");
    out.fired_lists = lists != nullptr;
    const char* name = out.fired_lists ? "fired_detectors" : "detection_events";
    const OrderedJson& shots = out.fired_lists ? *lists : *rows;
    const uint64_t max_value = out.fired_lists ? kToolModelLimits.max_detectors - 1 : 1;
    const Error invalid = value_error(std::string("Missing or invalid ") + name);
    if (!shots.is_array()) return invalid;
    if (shots.size() > kMaxToolShots)
        return value_error(std::string(name) + " may hold at most " + std::to_string(kMaxToolShots) + " shots, got " +
                           std::to_string(shots.size()));
    out.begin.reserve(shots.size() + 1);
    for (const auto& shot : shots) {
        if (!shot.is_array()) return invalid;
        for (const auto& x : shot) {
            const auto value = unsigned_integer(x);
            if (!value || *value > max_value) return invalid;
            out.values.push_back(static_cast<uint32_t>(*value));
        }
        out.begin.push_back(out.values.size());
    }
    return ok_status();
}

// Writes shot k as a 0/1 row of `width` bytes (zeroed beforehand).
Status fill_row(const PredictArguments& a, size_t k, std::span<uint8_t> row) {
    const std::span<const uint32_t> shot(a.values.data() + a.begin[k], a.begin[k + 1] - a.begin[k]);
    if (!a.fired_lists) {
        if (shot.size() != row.size())
            return value_error("detection_events[" + std::to_string(k) + "] holds " + std::to_string(shot.size()) +
                               " values; the model has " + std::to_string(row.size()) + " detectors");
        std::copy(shot.begin(), shot.end(), row.begin());
        return ok_status();
    }
    for (uint32_t id : shot) {
        if (id >= row.size())
            return value_error("fired_detectors[" + std::to_string(k) + "] names detector " + std::to_string(id) +
                               "; the model has " + std::to_string(row.size()) + " detectors");
        row[id] = 1;
    }
    return ok_status();
}

}  // namespace

std::span<const std::string_view> model_decoder_names() { return kFamilyNames; }

Result<PredictArguments> read_predict_arguments(const OrderedJson& arguments) {
    PredictArguments out;
    auto text = read_model_text(arguments);
    if (!text) return text.error();
    auto decoder = read_decoder(arguments);
    if (!decoder) return decoder.error();
    if (Status st = read_shots(arguments, out); !st) return st.error();
    out.model_text = std::move(text.value());
    out.decoder = decoder.value();
    return out;
}

Result<Json> predict_observables_tool(const PredictArguments& a, ProgressSink* progress) {
    auto model = read_detector_error_model(a.model_text, kToolModelLimits);
    if (!model) return model.error();
    const size_t width = model.value().num_detectors;
    const size_t n_observables = model.value().num_observables;
    if (width == 0) return value_error("the model has no detectors");
    auto predictor = kFamilies[a.decoder].build(model.value());
    if (!predictor) return predictor.error();

    const size_t n_shots = a.n_shots();
    const size_t chunk = std::clamp<size_t>(kChunkEventBytes / width, 1, kMaxChunkShots);
    std::vector<uint8_t> events;
    Json predictions = Json::array();
    std::vector<uint64_t> flips(n_observables, 0);
    for (size_t first = 0; first < n_shots; first += chunk) {
        if (progress != nullptr && !progress->report(first, n_shots)) return interrupted_error();
        const size_t count = std::min(chunk, n_shots - first);
        events.assign(count * width, 0);
        for (size_t k = 0; k < count; ++k)
            if (Status st = fill_row(a, first + k, std::span(events).subspan(k * width, width)); !st) return st.error();
        auto rows = predictor.value()(events, count);
        if (!rows) return rows.error();
        for (size_t k = 0; k < count; ++k) {
            const auto row = std::span(rows.value()).subspan(k * n_observables, n_observables);
            for (size_t o = 0; o < n_observables; ++o) flips[o] += row[o];
            predictions.push_back(Json(std::vector<uint8_t>(row.begin(), row.end())));
        }
    }
    return Json{{"decoder", std::string(kFamilyNames[a.decoder])},
                {"num_detectors", width},
                {"num_observables", n_observables},
                {"num_shots", n_shots},
                {"observable_flips", flips},
                {"predictions", std::move(predictions)}};
}

}  // namespace vornex
