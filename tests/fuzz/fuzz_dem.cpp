// Detector-error-model reader, graph view and model code. The input is read
// twice: as raw text, and as a list of token picks that spell text close to
// the grammar (so nested blocks, shifts and separators get deep coverage).
// Checks: no crash or unbounded growth under small limits; no text with a
// count at or beyond 2^62 - 1 (2^64 and more included) is accepted; every accepted
// model is consistent (ids below the counts, probabilities in [0, 1], offsets
// ordered); the graph view is sorted, merged and in range; its code is a
// valid check list on which a Union-Find decode predicts observables in range.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "code/check_graph.h"
#include "dem/dem_code.h"
#include "dem/dem_reader.h"
#include "dem/shot_rows.h"
#include "fuzz_input.h"
#include "uf/uf_core.h"

namespace {

using namespace vornex;

void require(bool condition) {
    if (!condition) std::abort();
}

template <size_t N>
const char* pick(fuzz::Input& in, const char* const (&options)[N]) {
    return options[in.below(N)];
}

// Mostly well-formed lines, each instruction with targets of its own kind
// and now and then a stray token, so that accepted models with nested
// blocks, shifts and separators are common.
// `oversized` is set when a count no model may hold was spelled.
std::string spelled_text(fuzz::Input& in, bool& oversized) {
    static const char* const kProbabilities[] = {"error(0.1)", "error(0.5)", "error(0)", "error(1)", "error[t](2e-3)",
                                                 "error(0.7)"};
    static const char* const kErrorTargets[] = {" D0", " D1", " D2", " D7", " L0", " L1"};
    static const char* const kDetectors[] = {" D0", " D1", " D5", " D9", " D2147483647", " D18446744073709551617"};
    static const char* const kCounts[] = {" 0", " 1", " 2", " 3", " 1000", " 4611686018427387902"};
    // Counts no model may hold: at and beyond 2^62 - 1, 2^64 and 2^64 + 2
    // among them (which wrap to 0 and 2 in 64 bits).
    static const char* const kOversized[] = {" 4611686018427387903", " 18446744073709551616", " 18446744073709551618",
                                             " 99999999999999999999999"};
    static const char* const kStray[] = {"(", ")", ",", "x", "-1e9", " D2147483647", "D", "{", "\t", "\r",
                                         " 999999999999999999999", "[", " ^ ^", "}"};
    std::string text;
    int depth = 0;
    auto count = [&]() -> std::string {
        if (in.below(16) != 15) return pick(in, kCounts);
        oversized = true;
        return pick(in, kOversized);
    };
    while (!in.empty()) {
        switch (in.below(8)) {
            case 0:
            case 1:
                text += pick(in, kProbabilities);
                for (uint32_t k = 0, n = in.below(6); k < n; ++k) {
                    if (k && in.below(4) == 0) text += " ^";
                    text += pick(in, kErrorTargets);
                }
                break;
            case 2: text += std::string(in.below(2) ? "detector(1, 2)" : "detector") + pick(in, kDetectors); break;
            case 3: text += in.below(2) ? "logical_observable L0" : "logical_observable L3"; break;
            case 4: text += std::string(in.below(2) ? "shift_detectors(0, 1)" : "shift_detectors") + count(); break;
            case 5:
                text += std::string("repeat") + count() + " {";
                ++depth;
                break;
            case 6:
                if (depth) {
                    text += "}";
                    --depth;
                }
                break;
            default: text += "# comment"; break;
        }
        if (in.below(256) == 255) text += pick(in, kStray);  // exhausted input reads 0: no stray
        text += '\n';
    }
    while (depth-- > 0) text += "}\n";
    return text;
}

void check_model(const DetectorErrorModel& m) {
    require(m.target_begin.size() == m.num_errors() + 1 && m.line.size() == m.num_errors());
    for (size_t c = 0; c < m.num_errors(); ++c) {
        require(m.probability[c] >= 0 && m.probability[c] <= 1);
        require(m.target_begin[c] <= m.target_begin[c + 1]);
        for (uint32_t t : m.targets_of(c)) {
            if (t == kSeparatorTarget) continue;
            if (is_detector_target(t)) {
                require(t < m.num_detectors);
            } else {
                require((t & ~kObservableTarget) < m.num_observables);
            }
        }
    }
    require(m.coordinate_begin.size() == m.coordinate_detector.size() + 1);
    for (uint32_t d : m.coordinate_detector) require(d < m.num_detectors);
}

void check_graph(const DemGraph& g) {
    for (size_t e = 0; e < g.edges.size(); ++e) {
        const DemEdge& edge = g.edges[e];
        require(edge.u < g.num_detectors && (edge.v == kDemBoundary || (edge.u < edge.v && edge.v < g.num_detectors)));
        require(edge.probability > 0 && edge.probability <= 1);
        if (e) {
            const DemEdge& prev = g.edges[e - 1];
            require(prev.u < edge.u || (prev.u == edge.u && prev.v < edge.v));
        }
        for (uint32_t o : g.observables_of(e)) require(o < g.num_observables);
    }
}

// `must_fail`: the text holds a count no model may hold.
void exercise(std::string_view text, fuzz::Input& shots, bool must_fail) {
    DemReaderLimits limits;
    limits.max_unrolled = 20000;
    limits.max_detectors = 5000;
    limits.max_observables = 64;
    auto model = read_detector_error_model(text, limits);
    if (!model) {
        require(model.error().message.rfind("line ", 0) == 0);
        return;
    }
    require(!must_fail);
    check_model(model.value());
    auto graph = build_dem_graph(model.value());
    if (!graph) return;
    check_graph(graph.value());
    auto code = dem_code_from_graph(graph.value());
    if (!code) return;
    const DemCode& c = code.value();
    auto checks = build_check_graph(c.check_to_qubits, c.n_qubits);
    require(checks.ok());
    const size_t n_det = c.check_to_qubits.size();
    const uint32_t n_obs = c.observables->num_observables();
    std::vector<uint8_t> events(n_det), packed((n_obs + 7) / 8);
    for (auto& e : events) e = shots.byte() & 1;
    const Status status = predict_observable_rows(events.data(), {n_det, false}, 1, packed.data(), {n_obs, true}, false, [&] {
        return [&, ws = UfWorkspace{}, correction = std::vector<uint8_t>(c.n_qubits)](
                   std::span<const uint8_t> ev, std::span<uint8_t> obs) mutable {
            decode_into(checks.value(), ev, ws, correction);
            c.observables->map.apply(correction, obs);
        };
    });
    require(status.ok());
    if (n_obs % 8) require((packed.back() >> (n_obs % 8)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input raw_shots(data, size);
    exercise(std::string_view(reinterpret_cast<const char*>(data), size), raw_shots, false);
    fuzz::Input in(data, size);
    bool oversized = false;
    const std::string text = spelled_text(in, oversized);
    fuzz::Input shots(data, size);
    exercise(text, shots, oversized);
    return 0;
}
