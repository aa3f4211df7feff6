// Decoding a stream of measurement rounds through a ring of recent rounds.
//
// Each update stores one round in the ring (overwriting the oldest once the
// ring is full) and decodes the bitwise OR of the rounds held, so a check
// stays fired for history_size updates after it last fired.
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

inline constexpr size_t kDefaultHistorySize = 10;

class StreamingDecoder : public RoundStream<StreamingDecoder> {
public:
    // A ring without slots could never hold a round, so history_size 0 is
    // refused up front; then the code is validated.
    static Result<StreamingDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                           size_t history_size);

    size_t history_size() const { return history_size_; }
    size_t head() const { return head_; }
    size_t filled() const { return filled_; }

    // Stores the round and decodes the OR of the ring. A rejected round changes nothing.
    Result<std::vector<uint8_t>> update(std::span<const uint8_t> round_syndrome);
    // Back to an empty ring; code and history_size stay.
    void flush();

private:
    StreamingDecoder(CheckGraph graph, size_t history_size)
        : RoundStream(std::move(graph)), history_size_(history_size) {}

    // Slot s is bytes s*n_checks .. (s+1)*n_checks-1. Slots are allocated as
    // rounds arrive; a slot not yet allocated reads as all zero, exactly like
    // the zeroed slot of a fully allocated ring.
    std::vector<uint8_t> buffer_;
    size_t history_size_;
    size_t head_ = 0;
    size_t filled_ = 0;
    std::vector<uint8_t> combined_;
};

}  // namespace vornex
