#include "dem/observable_map.h"

namespace vornex {

ObservableMap::ObservableMap(uint32_t num_observables, std::span<const uint32_t> column_begin,
                             std::span<const uint32_t> observables)
    : num_columns_(column_begin.empty() ? 0 : column_begin.size() - 1), num_observables_(num_observables) {
    flip_begin_.push_back(0);
    for (size_t c = 0; c < num_columns_; ++c) {
        if (column_begin[c] == column_begin[c + 1]) continue;
        flipping_column_.push_back(static_cast<uint32_t>(c));
        flip_observables_.insert(flip_observables_.end(), observables.begin() + column_begin[c],
                                 observables.begin() + column_begin[c + 1]);
        flip_begin_.push_back(static_cast<uint32_t>(flip_observables_.size()));
    }
}

ObservableMap ObservableMap::from_graph(const DemGraph& graph, size_t num_columns) {
    std::vector<uint32_t> begin(graph.observable_begin);
    begin.resize(num_columns + 1, begin.back());
    return ObservableMap(graph.num_observables, begin, graph.observables);
}

void ObservableMap::apply(std::span<const uint8_t> correction, std::span<uint8_t> observables) const {
    for (size_t k = 0; k < flipping_column_.size(); ++k) {
        if (!(correction[flipping_column_[k]] & 1)) continue;
        for (uint32_t i = flip_begin_[k]; i < flip_begin_[k + 1]; ++i) observables[flip_observables_[i]] ^= 1;
    }
}

}  // namespace vornex
