// Settings of configurable belief propagation and ordered-statistics
// decoding, with the names callers use for them and their validation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/result.h"

namespace vornex {

// Check-node rule: min-sum (optionally scaled) or the exact tanh rule.
enum class BpMethod : uint8_t { MinSum, ProductSum };
// Parallel (flooding) updates every check, then every qubit; serial visits the
// qubits in index order and updates each one's incoming messages in place.
enum class BpSchedule : uint8_t { Parallel, Serial };
// Syndrome: stop once the hard decision explains the syndrome (OSD is then
// skipped). Posterior: stop once no posterior moved by kBpConvergence.
enum class BpStop : uint8_t { Syndrome, Posterior };
// OSD-0 alone; exhaustive search over the first `order` free columns; or the
// combination sweep (every single free column, then pairs within the first
// `order`).
enum class OsdMethod : uint8_t { Osd0, Exhaustive, CombinationSweep };

// Exhaustive OSD tries 2^order candidates; beyond this it would not finish.
inline constexpr size_t kMaxExhaustiveOrder = 20;
// Combination sweep tries order * (order - 1) / 2 pairs.
inline constexpr size_t kMaxSweepOrder = 4096;

struct BpSettings {
    BpMethod method = BpMethod::MinSum;
    // Min-sum messages are multiplied by this; 1 is plain min-sum.
    double ms_scaling_factor = 1.0;
    BpSchedule schedule = BpSchedule::Parallel;
    size_t max_iterations = 50;
    BpStop stop = BpStop::Syndrome;
};

struct OsdSettings {
    OsdMethod method = OsdMethod::Osd0;
    size_t order = 0;
};

// Name parsers: the accepted spellings are the ones in the error texts.
Result<BpMethod> parse_bp_method(std::string_view name);
Result<BpSchedule> parse_bp_schedule(std::string_view name);
Result<BpStop> parse_bp_stop(std::string_view name);
Result<OsdMethod> parse_osd_method(std::string_view name);

// Range checks of the numeric settings.
Status validate_bp_settings(const BpSettings& settings);
Status validate_osd_settings(const OsdSettings& settings);

}  // namespace vornex
