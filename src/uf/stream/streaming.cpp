#include "uf/stream/streaming.h"

#include <algorithm>
#include <string>

namespace vornex {

Result<StreamingDecoder> StreamingDecoder::create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                                  size_t history_size) {
    if (history_size == 0) return value_error("history_size must be > 0");
    auto graph = build_check_graph(std::move(check_to_qubits), n_qubits);
    if (!graph) return graph.error();
    return StreamingDecoder(std::move(graph).value(), history_size);
}

Result<std::vector<uint8_t>> StreamingDecoder::update(std::span<const uint8_t> round_syndrome) {
    if (auto st = check_length(round_syndrome); !st) return st.error();
    const size_t n = graph_.n_checks;
    // While the ring fills, head == filled and the slot is the next new one.
    if (head_ * n == buffer_.size())
        buffer_.insert(buffer_.end(), round_syndrome.begin(), round_syndrome.end());
    else
        std::copy(round_syndrome.begin(), round_syndrome.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(head_ * n));
    head_ = head_ + 1 == history_size_ ? 0 : head_ + 1;
    if (filled_ < history_size_) ++filled_;

    combined_.assign(n, 0);
    for (size_t s = 0; s < filled_; ++s)
        for (size_t k = 0; k < n; ++k) combined_[k] |= buffer_[s * n + k];

    return correct(combined_);
}

void StreamingDecoder::flush() {
    buffer_.clear();
    buffer_.shrink_to_fit();
    head_ = 0;
    filled_ = 0;
}

}  // namespace vornex
