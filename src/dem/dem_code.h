// The graph view of a detector error model as a code for the decoders that
// take check lists (Union-Find, weighted matching, the lookup table).
//
// Check d is detector d; column ("qubit") e is graph edge e, in one check for
// a boundary edge and in two otherwise. A detector that no edge touches gets
// a placeholder column listed twice in its check: a self-loop, which no
// decoder ever flips, so the check is not empty as the code model requires
// and the syndrome keeps one byte per detector.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "dem/dem_graph.h"
#include "dem/dem_model.h"
#include "dem/observable_map.h"

namespace vornex {

// What a decoder built from a model keeps besides its engine: the width of
// a shot and the observables each of its columns flips.
struct ModelObservables {
    uint32_t num_detectors = 0;
    ObservableMap map;

    uint32_t num_observables() const { return map.num_observables(); }
};

struct DemCode {
    CheckList check_to_qubits;  // one check per detector
    size_t n_qubits = 0;        // edges, then placeholders
    std::vector<double> weights;  // per column; placeholders take the first edge's weight so
                                  // that equal edge weights still read as uniform
    std::shared_ptr<const ModelObservables> observables;
};

// Fails only for a model without detectors, which no check-list decoder takes.
Result<DemCode> dem_code_from_graph(const DemGraph& graph);

// Graph view and code in one step. With `weighted_decoder` (its name, for
// the message) edges of probability above 0.5 are refused.
Result<DemCode> dem_code_from_model(const DetectorErrorModel& model, const char* weighted_decoder = nullptr);

// A family made by D::create(check_to_qubits, n_qubits), built on a model's
// code; `attach(decoder, observables)` then gives it the model's observables.
template <class D, class Attach>
Result<D> create_from_model(const DetectorErrorModel& model, Attach attach) {
    auto code = dem_code_from_model(model);
    if (!code) return code.error();
    auto decoder = D::create(std::move(code.value().check_to_qubits), code.value().n_qubits);
    if (!decoder) return decoder.error();
    attach(decoder.value(), std::move(code.value().observables));
    return decoder;
}

}  // namespace vornex
