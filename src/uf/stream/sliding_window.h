// Decoding a stream of measurement rounds through a decaying window.
//
// Each update adds one round and decodes a vote over the rounds held: round
// p of h (oldest first) weighs decay^(h-1-p), a check counts as fired when
// its weighted sum reaches one half, and the Union-Find core decodes the
// result. Recent rounds thus dominate while a lone old flash fades out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "uf/stream/round_stream.h"

namespace vornex {

class SlidingWindowDecoder : public RoundStream<SlidingWindowDecoder> {
public:
    // Checks window_size, then decay_factor, then the code.
    static Result<SlidingWindowDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                               size_t window_size, double decay_factor);

    size_t window_size() const { return window_size_; }
    double decay_factor() const { return decay_factor_; }
    size_t current_round() const { return current_round_; }
    // Rounds currently in the window, at most window_size.
    size_t held_rounds() const { return held_; }
    // Round p of the window, oldest first (p < held_rounds()).
    std::span<const uint8_t> held_round(size_t p) const;

    // Adds a round and decodes the window's vote. A rejected round changes nothing.
    Result<std::vector<uint8_t>> update(std::span<const uint8_t> round_syndrome);
    // Empties the window and restarts the round count; code and parameters stay.
    void flush();

private:
    SlidingWindowDecoder(CheckGraph graph, size_t window_size, double decay_factor)
        : RoundStream(std::move(graph)), window_size_(window_size), decay_factor_(decay_factor) {}
    void push_round(std::span<const uint8_t> round_syndrome);

    // Ring of rounds, n_checks bytes each. It grows one round at a time until
    // it holds window_size rounds, so a large window costs nothing up front.
    std::vector<uint8_t> history_;
    size_t held_ = 0;
    size_t oldest_ = 0;
    size_t window_size_;
    double decay_factor_;
    size_t current_round_ = 0;
    // Per-update scratch, kept to avoid allocating on every round.
    std::vector<double> weights_;  // weights_[e] = decay^e
    std::vector<double> score_;
    std::vector<uint8_t> effective_;
};

}  // namespace vornex
