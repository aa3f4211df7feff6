// The optional graph inputs shared by DetectorGraph and HybridDecoder:
// check_positions, check_types and base_weights, three consecutive
// parameters of their constructors.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "learned/gnn_graph.h"
#include "module/args.h"

namespace vornex::py {

inline GraphExtras graph_extras_arg(const Args& args, size_t first) {
    GraphExtras extras;
    extras.check_positions = args.get<std::optional<std::vector<std::pair<double, double>>>>(first);
    extras.check_types = args.get<std::optional<std::vector<bool>>>(first + 1);
    extras.base_weights = args.get<std::optional<std::vector<double>>>(first + 2);
    return extras;
}

}  // namespace vornex::py
