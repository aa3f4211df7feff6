// Real-time decoding of a memory experiment, round by round, on the exact
// matching engine.
//
// Built from a detector error model whose detectors fall into rounds (see
// round_layers.h). Rounds of detection events arrive one at a time; once a
// window of `window` rounds is in, it is matched exactly and its oldest
// `commit` rounds are committed (window_decoder.h), the rest kept as a
// buffer for the next window. The final round closes the experiment: what
// is left is matched as one window and committed whole.
//
// Memory is bounded whatever the stream's length: a ring of `window` rounds
// of events, the window graphs (a handful for a repeating model; see
// window_graph.h), and one engine sized to a window.
//
// Offline, decode_stream decodes a whole experiment with the two-stage
// parallel-window scheme: windows with a buffer on both sides commit
// disjoint regions in parallel, then the seams between them, closed on both
// sides, are decoded in parallel with the residual defects carried in.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "dem/dem_code.h"
#include "dem/dem_model.h"
#include "matching/stream/latency_histogram.h"
#include "matching/stream/round_layers.h"
#include "matching/stream/window_decoder.h"
#include "matching/stream/window_graph.h"

namespace vornex {

struct StreamOptions {
    std::optional<uint32_t> window = std::nullopt;               // rounds matched at once; default commit + distance
    std::optional<uint32_t> commit = std::nullopt;               // rounds committed per window; default the distance
    std::optional<uint32_t> detectors_per_round = std::nullopt;  // rounds by id blocks, not time coordinates
    std::optional<uint64_t> rounds = std::nullopt;               // stream length; default the model's, 0: no fixed end
    bool enable_correlations = false;                            // windows matched in two correlated passes
};

class StreamMatchingDecoder {
public:
    using ObsMask = stream::ObsMask;
    // A committed edge: (stream round of its earlier end, edge of the model's graph view).
    using CommittedEdge = std::pair<uint64_t, uint32_t>;

    static Result<StreamMatchingDecoder> create(const DetectorErrorModel& model, const StreamOptions& options);
    static Result<StreamMatchingDecoder> from_model(const DetectorErrorModel& model) { return create(model, {}); }

    StreamMatchingDecoder(StreamMatchingDecoder&&) noexcept;
    StreamMatchingDecoder& operator=(StreamMatchingDecoder&&) noexcept;
    ~StreamMatchingDecoder();

    uint32_t num_detectors() const { return layers_->num_detectors; }
    uint32_t num_observables() const { return layers_->num_observables; }
    uint32_t window() const { return window_; }
    uint32_t commit() const { return commit_; }
    // Rounds of each experiment of the stream; 0 when only flush ends one.
    uint64_t rounds() const { return stream_map_.n_rounds(); }
    uint32_t model_rounds() const { return layers_->n_rounds(); }
    // The model's graph-like distance, the default buffer and commit.
    uint32_t distance() const { return layers_->distance; }
    bool enable_correlations() const { return layers_->correlations != nullptr; }
    // Rounds given to the current experiment.
    uint64_t current_round() const;
    // Detection events of stream round `round` of an experiment.
    Result<uint32_t> round_size(uint64_t round) const;
    // The window graphs built so far.
    size_t cached_windows() const;
    const ModelObservables* model() const { return observables_.get(); }

    // Takes the next round's detection events (0/1 bytes, in the round's
    // detector order) and returns the observable flips committed so far in
    // this experiment. On failure nothing changes.
    Result<ObsMask> update(std::span<const uint8_t> round_events);
    // The same for consecutive whole rounds given at once.
    Result<ObsMask> extend(std::span<const uint8_t> events);
    // Ends the experiment and returns all its flips; the decoder is then
    // ready for the next. With `final_round` the given events are its final
    // round (the model's last), ending it early if the model repeats; without,
    // an experiment cut short is matched as it stands.
    Result<ObsMask> flush(std::optional<std::span<const uint8_t>> final_round);
    // Edges committed by the last update, extend or flush, when recording.
    const std::vector<CommittedEdge>& last_edges() const;
    void record_edges(bool on);

    // Time each update, extend and flush spent, one sample per round given.
    const stream::LatencyHistogram& latency() const;
    void clear_latency();

    // Observable flips of one whole experiment of `rounds()` rounds (its
    // events in stream order), by parallel windows; on the worker pool when
    // `parallel`, with the same result either way.
    Result<ObsMask> decode_stream(std::span<const uint8_t> events, bool parallel) const;

    // Shots of the model, each decoded by sliding windows over its rounds;
    // shots on the worker pool when `parallel`.
    Result<std::vector<uint8_t>> predict_observables(std::span<const uint8_t> events, size_t n_shots, bool bit_packed,
                                                     bool parallel) const;

private:
    struct State;

    StreamMatchingDecoder() = default;
    // One whole shot of the model, its events in stream order in `buffer`
    // (changed by the decode).
    Status decode_shot(std::span<uint8_t> buffer, stream::WindowDecoder& decoder, stream::WindowCommit& commit,
                       ObsMask& flips) const;
    // The next round; `checked` when its length and bits are known good.
    Result<ObsMask> take_round(std::span<const uint8_t> round_events, bool checked = false);
    Status check_round(uint64_t round, std::span<const uint8_t> events, const stream::StreamMap& map) const;
    Status step();
    void reset();
    void prebuild(const stream::StreamMap& map);

    std::shared_ptr<const stream::RoundLayers> layers_;
    std::shared_ptr<const ModelObservables> observables_;
    std::unique_ptr<stream::WindowGraphCache> cache_;
    stream::StreamMap model_map_;
    stream::StreamMap stream_map_;
    uint32_t window_ = 0;
    uint32_t commit_ = 0;
    std::unique_ptr<State> state_;
};

}  // namespace vornex
