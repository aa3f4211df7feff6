#include "matching/stream/stream_matching.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

#include "base/thread_scratch.h"
#include "base/worker_pool.h"
#include "dem/model_budget.h"
#include "dem/event_list_rows.h"

namespace vornex {

using stream::StreamMap;
using stream::WindowCommit;
using stream::WindowDecoder;
using stream::WindowGraph;

namespace {

// Everything one thread needs to decode windows of whole shots or streams.
struct StreamScratch {
    WindowDecoder decoder;
    WindowCommit commit;
    std::vector<uint8_t> buffer;  // a shot's or a seam's events, changed by carried defects
    bool busy = false;
};

uint64_t now_ns() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// The first byte that is neither 0 nor 1, as an error naming the round it
// is in (or none for a whole stream). The text is only built on failure:
// this runs for every round.
Status check_bits(std::span<const uint8_t> events, std::optional<uint64_t> round) {
    uint64_t high = 0;  // any bit above bit 0 of any byte
    for (size_t at = 0; at < events.size(); at += 8)
        high |= detail::load_word(events.data() + at, std::min<size_t>(8, events.size() - at)) &
                ~detail::kLowBitOfEachByte;
    if (high == 0) return ok_status();
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i] > 1) {
            const std::string where = round ? "round " + std::to_string(*round) + ": " : "";
            return value_error(where + "detection events must be 0 or 1, got " + std::to_string(events[i]) +
                               " at index " + std::to_string(i));
        }
    }
    return ok_status();
}

std::string rounds_text(uint64_t first, uint64_t end) {
    return "rounds " + std::to_string(first) + ".." + std::to_string(end - 1) + ": ";
}

}  // namespace

namespace {

// One piece of the parallel-window scheme: rounds [first, first + length),
// committing [commit_begin, commit_end) of them.
struct Piece {
    uint64_t first = 0;
    uint32_t length = 0;
    uint32_t commit_begin = 0;
    uint32_t commit_end = 0;
    bool open_below = false;
    bool open_above = false;
    const WindowGraph* graph = nullptr;
};

// What a piece committed; flips in absolute rounds.
struct PieceResult {
    stream::ObsMask observables = 0;
    std::vector<std::pair<uint64_t, uint32_t>> flips;
    std::string error;
};

// Windows with a buffer on each side commit [a, a + commit) for a = 0,
// window, 2 window, ...; the seams of window - commit rounds between them
// are decoded after them, closed on both sides. Graphs come from `cache`.
Status plan_parallel_windows(stream::WindowGraphCache& cache, const StreamMap& map, uint32_t window, uint32_t commit,
                             std::vector<Piece>& first_stage, std::vector<Piece>& seams) {
    const uint64_t n = map.n_rounds();
    const uint32_t buffer = window - commit;
    first_stage.clear();
    seams.clear();
    for (uint64_t a = 0; a < n; a += window) {
        const uint64_t commit_end = std::min<uint64_t>(a + commit, n);
        const uint64_t lo = a > buffer ? a - buffer : 0;
        const uint64_t hi = std::min<uint64_t>(commit_end + buffer, n);
        first_stage.push_back({lo, static_cast<uint32_t>(hi - lo), static_cast<uint32_t>(a - lo),
                               static_cast<uint32_t>(commit_end - lo), lo > 0, hi < n});
        const uint64_t seam_end = std::min<uint64_t>(a + window, n);
        if (commit_end < seam_end) {
            const auto length = static_cast<uint32_t>(seam_end - commit_end);
            seams.push_back({commit_end, length, 0, length, false, false});
        }
    }
    for (std::vector<Piece>* pieces : {&first_stage, &seams}) {
        for (Piece& p : *pieces) {
            auto graph = cache.get(map, p.first, p.length, p.open_below, p.open_above);
            if (!graph) return graph.error();
            p.graph = graph.value();
        }
    }
    return ok_status();
}

}  // namespace

struct StreamMatchingDecoder::State {
    StreamMap map;                     // this experiment's rounds (an early final round shortens them)
    std::vector<uint8_t> ring;         // `window` slots of slot_bytes; round r in slot r % window, zero after it
    size_t slot_bytes = 0;             // max_round_size rounded up to whole words, so rounds are read by words
    uint64_t received = 0;             // rounds given to this experiment
    uint64_t start = 0;                // first round not yet committed
    ObsMask committed = 0;             // observable flips committed in this experiment
    bool complete = false;             // the final round is in and everything is committed
    bool record_edges = false;
    std::vector<CommittedEdge> edges;  // committed by the current call
    WindowDecoder decoder;
    WindowCommit out;
    stream::LatencyHistogram latency;
};

StreamMatchingDecoder::StreamMatchingDecoder(StreamMatchingDecoder&&) noexcept = default;
StreamMatchingDecoder& StreamMatchingDecoder::operator=(StreamMatchingDecoder&&) noexcept = default;
StreamMatchingDecoder::~StreamMatchingDecoder() = default;

Result<StreamMatchingDecoder> StreamMatchingDecoder::create(const DetectorErrorModel& model,
                                                            const StreamOptions& options) {
    if (auto fits = check_model_footprint(model, {"a stream matching decoder", 54}); !fits) return fits.error();
    auto built = stream::build_round_layers(model, options.detectors_per_round, options.enable_correlations);
    if (!built) return built.error();
    auto layers = std::make_shared<const stream::RoundLayers>(std::move(built).value());
    const uint32_t d = std::max<uint32_t>(layers->distance, 1);
    uint32_t commit = 0, window = 0;
    if (options.window) {
        window = *options.window;
        commit = options.commit ? *options.commit : (window > d ? window - d : 1);
    } else {
        commit = options.commit ? *options.commit : d;
        window = commit + d;
    }
    if (commit == 0) return value_error("commit must be > 0");
    if (window <= commit) {
        return value_error("window must be larger than commit (the rest of the window is the buffer), got window=" +
                           std::to_string(window) + ", commit=" + std::to_string(commit));
    }
    if (window - commit < layers->max_span) {
        return value_error("the buffer (window - commit = " + std::to_string(window - commit) +
                           ") must be at least " + std::to_string(layers->max_span) +
                           ": an edge of the model crosses that many rounds");
    }
    const uint64_t rounds = options.rounds.value_or(layers->n_rounds());
    if (auto status = StreamMap::check(*layers, rounds); !status) return status.error();

    StreamMatchingDecoder decoder;
    decoder.layers_ = layers;
    decoder.observables_ = std::make_shared<const ModelObservables>(ModelObservables{
        layers->num_detectors, ObservableMap(layers->num_observables, std::vector<uint32_t>{0}, {})});
    decoder.cache_ = std::make_unique<stream::WindowGraphCache>(layers);
    decoder.model_map_ = StreamMap(*layers, layers->n_rounds());
    decoder.stream_map_ = StreamMap(*layers, rounds);
    decoder.window_ = window;
    decoder.commit_ = commit;
    decoder.state_ = std::make_unique<State>();
    decoder.state_->slot_bytes = (size_t{layers->max_round_size} + 7) / 8 * 8;
    decoder.state_->ring.assign(size_t{window} * decoder.state_->slot_bytes, 0);
    decoder.reset();
    decoder.prebuild(decoder.model_map_);
    decoder.prebuild(decoder.stream_map_);
    if (rounds != 0) {
        std::vector<Piece> first_stage, seams;
        (void)plan_parallel_windows(*decoder.cache_, decoder.stream_map_, window, commit, first_stage, seams);
    }
    return decoder;
}

// Builds the graphs of the sliding windows of a stream under `map`, so that
// no update pays for one. Windows of the repeated rounds alone are all
// alike: one of them stands for the run.
void StreamMatchingDecoder::prebuild(const StreamMap& map) {
    const uint64_t n = map.n_rounds();
    const uint64_t head = layers_->head();
    for (uint64_t s = 0;; s += commit_) {
        if (n != 0 && s + window_ >= n) {
            (void)cache_->get(map, s, static_cast<uint32_t>(n - s), false, false);
            return;
        }
        (void)cache_->get(map, s, window_, false, true);
        if (map.identity() || s < head) continue;
        if (n == 0) return;
        const uint64_t tail_start = n - layers_->tail();
        if (s + window_ + commit_ < tail_start) s = std::max(s, (tail_start - window_ - commit_) / commit_ * commit_);
    }
}

uint64_t StreamMatchingDecoder::current_round() const { return state_->received; }

size_t StreamMatchingDecoder::cached_windows() const { return cache_->size(); }

Result<uint32_t> StreamMatchingDecoder::round_size(uint64_t round) const {
    if (rounds() != 0 && round >= rounds()) {
        return value_error("round " + std::to_string(round) + " is past the stream's " + std::to_string(rounds()) +
                           " rounds");
    }
    return layers_->size(stream_map_.layer(round));
}

const std::vector<StreamMatchingDecoder::CommittedEdge>& StreamMatchingDecoder::last_edges() const {
    return state_->edges;
}

void StreamMatchingDecoder::record_edges(bool on) { state_->record_edges = on; }

const stream::LatencyHistogram& StreamMatchingDecoder::latency() const { return state_->latency; }

void StreamMatchingDecoder::clear_latency() { state_->latency.clear(); }

void StreamMatchingDecoder::reset() {
    State& s = *state_;
    s.map = stream_map_;
    s.received = 0;
    s.start = 0;
    s.committed = 0;
    s.complete = false;
}

Status StreamMatchingDecoder::check_round(uint64_t round, std::span<const uint8_t> events, const StreamMap& map) const {
    if (map.n_rounds() != 0 && round >= map.n_rounds()) {
        return value_error("all " + std::to_string(map.n_rounds()) +
                           " rounds of this experiment are in; call flush() to start the next");
    }
    const uint32_t expected = layers_->size(map.layer(round));
    if (events.size() != expected) {
        return value_error("round " + std::to_string(round) + " has " + std::to_string(events.size()) +
                           " detection events, expected " + std::to_string(expected));
    }
    return check_bits(events, round);
}

// Matches the next window if one is due: a full window short of the final
// round commits its oldest rounds; the final round commits all that is left.
Status StreamMatchingDecoder::step() {
    State& s = *state_;
    const uint64_t end = s.map.n_rounds();
    auto slot = [&](uint64_t round) { return s.ring.data() + (round % window_) * s.slot_bytes; };
    uint32_t length = 0, commit_end = 0;
    bool open_above = true;
    if (s.received - s.start >= window_ && (end == 0 || s.start + window_ < end)) {
        length = window_;
        commit_end = commit_;
    } else if (end != 0 && s.received == end) {
        length = static_cast<uint32_t>(end - s.start);
        commit_end = length;
        open_above = false;
    } else {
        return ok_status();
    }
    const uint64_t first = s.start;
    auto graph = cache_->get(s.map, first, length, false, open_above);
    if (!graph) return graph.error();
    auto bytes = [&](uint32_t i) { return slot(first + i); };
    if (auto status = s.decoder.decode<true>(*graph.value(), bytes, 0, commit_end, s.record_edges, s.out); !status)
        return status;
    s.committed ^= s.out.observables;
    for (const auto& [round, index] : s.out.flips) slot(first + static_cast<uint64_t>(round))[index] ^= 1;
    for (const auto& [round, edge] : s.out.edges) s.edges.push_back({first + static_cast<uint64_t>(round), edge});
    s.start += commit_end;
    if (!open_above) s.complete = true;
    return ok_status();
}

Result<StreamMatchingDecoder::ObsMask> StreamMatchingDecoder::take_round(std::span<const uint8_t> round_events,
                                                                        bool checked) {
    State& s = *state_;
    if (s.complete) {
        return value_error("all " + std::to_string(s.map.n_rounds()) +
                           " rounds of this experiment are in; call flush() to start the next");
    }
    const uint64_t round = s.received;
    if (!checked) {
        if (auto status = check_round(round, round_events, s.map); !status) return status.error();
    }
    uint8_t* slot = s.ring.data() + (round % window_) * s.slot_bytes;
    if (!round_events.empty()) std::memcpy(slot, round_events.data(), round_events.size());
    std::fill(slot + round_events.size(), slot + s.slot_bytes, uint8_t{0});
    ++s.received;
    if (auto status = step(); !status) {
        --s.received;
        return value_error("round " + std::to_string(round) + ": " + status.error().message);
    }
    return s.committed;
}

Result<StreamMatchingDecoder::ObsMask> StreamMatchingDecoder::update(std::span<const uint8_t> round_events) {
    const uint64_t begin = now_ns();
    state_->edges.clear();
    auto result = take_round(round_events);
    if (result) state_->latency.record(now_ns() - begin);
    return result;
}

Result<StreamMatchingDecoder::ObsMask> StreamMatchingDecoder::extend(std::span<const uint8_t> events) {
    State& s = *state_;
    s.edges.clear();
    // Check every round first, so that bad input changes nothing.
    size_t consumed = 0;
    for (uint64_t round = s.received; consumed < events.size(); ++round) {
        if (s.complete || (s.map.n_rounds() != 0 && round >= s.map.n_rounds())) {
            return value_error("events run past the experiment's final round " +
                               std::to_string(s.map.n_rounds() - 1) + "; call flush() to start the next");
        }
        const uint32_t size = layers_->size(s.map.layer(round));
        if (events.size() - consumed < size) {
            return value_error("events end inside round " + std::to_string(round) + " (" +
                               std::to_string(events.size() - consumed) + " of its " + std::to_string(size) +
                               " detection events given)");
        }
        if (auto status = check_bits(events.subspan(consumed, size), round); !status) return status.error();
        consumed += size;
    }
    // A window that fails to match rolls the whole call back.
    const std::vector<uint8_t> ring = s.ring;
    const uint64_t received = s.received, start = s.start;
    const ObsMask committed = s.committed;
    consumed = 0;
    while (consumed < events.size()) {
        const uint64_t begin = now_ns();
        const uint32_t size = layers_->size(s.map.layer(s.received));
        auto result = take_round(events.subspan(consumed, size), true);
        if (!result) {
            s.ring = ring;
            s.received = received;
            s.start = start;
            s.committed = committed;
            s.complete = false;
            s.edges.clear();
            return result.error();
        }
        consumed += size;
        s.latency.record(now_ns() - begin);
    }
    return s.committed;
}

Result<StreamMatchingDecoder::ObsMask> StreamMatchingDecoder::flush(std::optional<std::span<const uint8_t>> final_round) {
    State& s = *state_;
    const uint64_t begin = now_ns();
    s.edges.clear();
    if (final_round) {
        if (s.complete) {
            return value_error(
                "the experiment already ended with its final round; call flush() without final_round to start the "
                "next");
        }
        const StreamMap saved = s.map;
        const uint64_t end = s.received + 1;
        if (end != s.map.n_rounds()) {
            if (!layers_->repeats()) {
                return value_error("the model's rounds do not repeat, so its final round is round " +
                                   std::to_string(layers_->n_rounds() - 1) + "; " + std::to_string(s.received) +
                                   " rounds were given");
            }
            const uint64_t shortest = uint64_t{layers_->head()} + layers_->tail() + 1;
            if (end < shortest) {
                return value_error("the final round can come after " + std::to_string(shortest - 1) +
                                   " rounds at the earliest; " + std::to_string(s.received) + " were given");
            }
            const StreamMap ended(*layers_, end);
            // Rounds already in that the model's tail now describes.
            for (uint64_t round = end - layers_->tail(); round < s.received; ++round) {
                if (round < s.start || layers_->size(ended.layer(round)) != layers_->size(s.map.layer(round))) {
                    return value_error("the final round cannot follow round " + std::to_string(s.received - 1) +
                                       ": round " + std::to_string(round) +
                                       " is already committed as a middle round or differs in size");
                }
            }
            s.map = ended;
        }
        auto result = take_round(*final_round);
        if (!result) {
            s.map = saved;
            return result.error();
        }
    } else if (!s.complete && s.received > s.start) {
        // An experiment cut short: what is left is matched as it stands and
        // committed whole (defects may still pair across the open top).
        const uint64_t first = s.start;
        const uint32_t length = static_cast<uint32_t>(s.received - first);
        auto graph = cache_->get(s.map, first, length, false, true);
        if (!graph) return graph.error();
        auto bytes = [&](uint32_t i) { return s.ring.data() + ((first + i) % window_) * s.slot_bytes; };
        if (auto status = s.decoder.decode<true>(*graph.value(), bytes, 0, length, s.record_edges, s.out); !status)
            return value_error(rounds_text(first, s.received) + status.error().message);
        s.committed ^= s.out.observables;
        for (const auto& [round, edge] : s.out.edges) s.edges.push_back({first + static_cast<uint64_t>(round), edge});
    }
    const ObsMask flips = s.committed;
    reset();
    s.latency.record(now_ns() - begin);
    return flips;
}

Status StreamMatchingDecoder::decode_shot(std::span<uint8_t> buffer, WindowDecoder& decoder, WindowCommit& commit,
                                          ObsMask& flips) const {
    const stream::RoundLayers& l = *layers_;
    const uint32_t n = l.n_rounds();
    flips = 0;
    uint32_t start = 0;
    while (true) {
        const bool last = start + window_ >= n;
        const uint32_t length = last ? n - start : window_;
        auto graph = cache_->get(model_map_, start, length, false, !last);
        if (!graph) return graph.error();
        auto bytes = [&](uint32_t i) { return buffer.data() + l.round_begin[start + i]; };
        if (auto status = decoder.decode(*graph.value(), bytes, 0, last ? length : commit_, false, commit); !status)
            return value_error(rounds_text(start, start + length) + status.error().message);
        flips ^= commit.observables;
        if (last) return ok_status();
        for (const auto& [round, index] : commit.flips) buffer[l.round_begin[start + round] + index] ^= 1;
        start += commit_;
    }
}

Result<StreamMatchingDecoder::ObsMask> StreamMatchingDecoder::decode_stream(std::span<const uint8_t> events,
                                                                          bool parallel) const {
    const StreamMap& map = stream_map_;
    const uint64_t n = map.n_rounds();
    if (n == 0) return value_error("decode_stream needs a fixed number of rounds; this decoder has rounds=0");
    if (events.size() != map.total()) {
        return value_error("events have " + std::to_string(events.size()) + " detection events, expected " +
                           std::to_string(map.total()) + " for " + std::to_string(n) + " rounds");
    }
    if (auto status = check_bits(events, std::nullopt); !status) return status.error();

    std::vector<Piece> first_stage, seams;
    if (auto status = plan_parallel_windows(*cache_, map, window_, commit_, first_stage, seams); !status)
        return status.error();

    auto run_all = [&](size_t count, auto&& body) {
        if (parallel) {
            parallel_for(count, body);
        } else {
            for (size_t k = 0; k < count; ++k) body(k);
        }
    };
    auto first_error = [](const std::vector<PieceResult>& results) -> const std::string* {
        for (const PieceResult& r : results)
            if (!r.error.empty()) return &r.error;
        return nullptr;
    };

    std::vector<PieceResult> first_results(first_stage.size());
    run_all(first_stage.size(), [&](size_t k) {
        const Piece& p = first_stage[k];
        ScratchLease<StreamScratch> lease;
        StreamScratch& s = lease.get();
        auto bytes = [&](uint32_t i) { return events.data() + map.offset(p.first + i); };
        auto status = s.decoder.decode(*p.graph, bytes, p.commit_begin, p.commit_end, false, s.commit);
        PieceResult& r = first_results[k];
        if (!status) {
            r.error = rounds_text(p.first, p.first + p.length) + status.error().message;
            return;
        }
        r.observables = s.commit.observables;
        for (const auto& [round, index] : s.commit.flips)
            r.flips.push_back({p.first + static_cast<uint64_t>(static_cast<int64_t>(round)), index});
    });
    if (const std::string* error = first_error(first_results)) return value_error(*error);

    std::vector<PieceResult> seam_results(seams.size());
    run_all(seams.size(), [&](size_t k) {
        const Piece& p = seams[k];
        ScratchLease<StreamScratch> lease;
        StreamScratch& s = lease.get();
        const uint64_t base = map.offset(p.first), end = map.offset(p.first + p.length);
        s.buffer.assign(events.begin() + static_cast<ptrdiff_t>(base), events.begin() + static_cast<ptrdiff_t>(end));
        // Residual defects from the windows on either side of this seam.
        const size_t left = static_cast<size_t>(p.first / window_);
        for (size_t side = left; side <= left + 1 && side < first_results.size(); ++side) {
            for (const auto& [round, index] : first_results[side].flips) {
                if (round >= p.first && round < p.first + p.length) s.buffer[map.offset(round) - base + index] ^= 1;
            }
        }
        auto bytes = [&](uint32_t i) { return s.buffer.data() + (map.offset(p.first + i) - base); };
        auto status = s.decoder.decode(*p.graph, bytes, 0, p.length, false, s.commit);
        PieceResult& r = seam_results[k];
        if (!status) {
            r.error = rounds_text(p.first, p.first + p.length) + status.error().message;
            return;
        }
        r.observables = s.commit.observables;
    });
    if (const std::string* error = first_error(seam_results)) return value_error(*error);

    ObsMask flips = 0;
    for (const PieceResult& r : first_results) flips ^= r.observables;
    for (const PieceResult& r : seam_results) flips ^= r.observables;
    return flips;
}

namespace {

// Observable flips of one shot, on this thread's scratch.
class ShotPredictor {
public:
    ShotPredictor(const StreamMatchingDecoder& decoder, const stream::RoundLayers& layers,
                  Status (*decode)(const StreamMatchingDecoder&, std::span<uint8_t>, StreamScratch&, uint64_t&))
        : decoder_(decoder), layers_(layers), decode_(decode) {}

    bool operator()(std::span<const uint32_t> fired, uint64_t& flips) { return run(fired, flips).ok(); }

    Status run(std::span<const uint32_t> fired, uint64_t& flips) {
        StreamScratch& s = lease_.get();
        s.buffer.assign(layers_.num_detectors, 0);
        for (const uint32_t d : fired) s.buffer[layers_.position[d]] = 1;
        return decode_(decoder_, s.buffer, s, flips);
    }

private:
    const StreamMatchingDecoder& decoder_;
    const stream::RoundLayers& layers_;
    Status (*decode_)(const StreamMatchingDecoder&, std::span<uint8_t>, StreamScratch&, uint64_t&);
    ScratchLease<StreamScratch> lease_;
};

}  // namespace

Result<std::vector<uint8_t>> StreamMatchingDecoder::predict_observables(std::span<const uint8_t> events,
                                                                         size_t n_shots, bool bit_packed,
                                                                         bool parallel) const {
    const BitRows in{layers_->num_detectors, bit_packed};
    const BitRows out{layers_->num_observables, bit_packed};
    if (events.size() != n_shots * in.row_bytes()) {
        return value_error("detection events have " + std::to_string(events.size()) + " bytes per " +
                           std::to_string(n_shots) + " shots, expected " + std::to_string(in.row_bytes()) +
                           " per shot");
    }
    auto decode = [](const StreamMatchingDecoder& d, std::span<uint8_t> buffer, StreamScratch& s, uint64_t& flips) {
        return d.decode_shot(buffer, s.decoder, s.commit, flips);
    };
    std::vector<uint8_t> predictions(n_shots * out.row_bytes());
    auto status = predict_rows_from_events(
        events.data(), in, n_shots, predictions.data(), out, parallel,
        [&] { return ShotPredictor(*this, *layers_, decode); },
        [&](std::span<const uint32_t> fired) {
            uint64_t flips = 0;
            return ShotPredictor(*this, *layers_, decode).run(fired, flips);
        });
    if (!status) return status.error();
    return predictions;
}

}  // namespace vornex
