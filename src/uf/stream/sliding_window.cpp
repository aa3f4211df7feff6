#include "uf/stream/sliding_window.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace vornex {

Result<SlidingWindowDecoder> SlidingWindowDecoder::create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                                          size_t window_size, double decay_factor) {
    if (window_size == 0) return value_error("window_size must be > 0");
    // Written so that NaN fails too.
    if (!(decay_factor >= 0.0 && decay_factor <= 1.0)) return value_error("decay_factor must be in [0.0, 1.0]");
    auto graph = build_check_graph(std::move(check_to_qubits), n_qubits);
    if (!graph) return graph.error();
    return SlidingWindowDecoder(std::move(graph).value(), window_size, decay_factor);
}

std::span<const uint8_t> SlidingWindowDecoder::held_round(size_t p) const {
    size_t slot = oldest_ + p;
    if (slot >= held_) slot -= held_;
    return std::span(history_).subspan(slot * graph_.n_checks, graph_.n_checks);
}

// Until the window is full the oldest round sits in slot 0 and new rounds go
// to the end; once full, the newest overwrites the oldest slot.
void SlidingWindowDecoder::push_round(std::span<const uint8_t> round_syndrome) {
    const size_t n = graph_.n_checks;
    if (held_ < window_size_) {
        history_.insert(history_.end(), round_syndrome.begin(), round_syndrome.end());
        ++held_;
        return;
    }
    std::copy(round_syndrome.begin(), round_syndrome.end(), history_.begin() + static_cast<std::ptrdiff_t>(oldest_ * n));
    oldest_ = oldest_ + 1 == held_ ? 0 : oldest_ + 1;
}

Result<std::vector<uint8_t>> SlidingWindowDecoder::update(std::span<const uint8_t> round_syndrome) {
    if (auto st = check_length(round_syndrome); !st) return st.error();
    push_round(round_syndrome);
    ++current_round_;

    const size_t n = graph_.n_checks;
    const size_t h = held_;
    while (weights_.size() < h) weights_.push_back(std::pow(decay_factor_, static_cast<double>(weights_.size())));
    score_.assign(n, 0.0);
    for (size_t p = 0; p < h; ++p) {
        const double w = weights_[h - 1 - p];
        const auto round = held_round(p);
        for (size_t k = 0; k < n; ++k) score_[k] += w * round[k];
    }
    effective_.resize(n);
    for (size_t k = 0; k < n; ++k) effective_[k] = score_[k] >= 0.5 ? 1 : 0;

    return correct(effective_);
}

void SlidingWindowDecoder::flush() {
    std::vector<uint8_t>().swap(history_);  // gives the window's memory back
    held_ = 0;
    oldest_ = 0;
    current_round_ = 0;
}

}  // namespace vornex
