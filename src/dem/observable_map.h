// Which logical observables each decoder column flips.
//
// A decoder built from a detector error model corrects columns (error
// mechanisms or graph edges); what a caller wants is the observables those
// columns flip. Only the columns that flip some observable are listed, so a
// shot costs what those columns cost, not the size of the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dem/dem_graph.h"

namespace vornex {

class ObservableMap {
public:
    ObservableMap() = default;

    // Column c flips observables[column_begin[c] .. column_begin[c + 1]).
    ObservableMap(uint32_t num_observables, std::span<const uint32_t> column_begin,
                  std::span<const uint32_t> observables);

    // Columns 0 .. edges-1 are the graph's edges; columns up to num_columns
    // beyond them (placeholders a code may add) flip nothing.
    static ObservableMap from_graph(const DemGraph& graph, size_t num_columns);

    size_t num_columns() const { return num_columns_; }
    uint32_t num_observables() const { return num_observables_; }

    // XORs into `observables` (one byte per observable) the flips of every
    // column whose correction byte has bit 0 set.
    void apply(std::span<const uint8_t> correction, std::span<uint8_t> observables) const;

private:
    size_t num_columns_ = 0;
    uint32_t num_observables_ = 0;
    std::vector<uint32_t> flipping_column_;  // columns with at least one observable, ascending
    std::vector<uint32_t> flip_begin_;       // flipping_column_.size() + 1 offsets into flip_observables_
    std::vector<uint32_t> flip_observables_;
};

}  // namespace vornex
