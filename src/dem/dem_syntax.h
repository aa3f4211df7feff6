// Detector-error-model text as a list of instructions, before unrolling.
//
// The grammar, one instruction per line:
//   error(p) D0 D3 ^ D7 L0        p in [0, 1]; '^' separates the parts of a decomposed error
//   detector(x, y, t) D5          coordinates optional
//   logical_observable L0
//   shift_detectors(dx, dy, dt) k adds k to later detector ids and the offsets to later coordinates
//   repeat N { ... }              '}' on a line of its own closes the block
// Instruction names and target prefixes ignore case; an optional [tag] may
// follow the name; '#' starts a comment. Every error names its line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace vornex {

enum class DemOp : uint8_t { Error, Detector, LogicalObservable, ShiftDetectors, Repeat };

// A target as read: kind in the top two bits, value below.
enum class DemTargetKind : uint8_t { Detector = 0, Observable = 1, Separator = 2, Number = 3 };
inline constexpr uint64_t kDemTargetValueMask = (uint64_t{1} << 62) - 1;
inline DemTargetKind dem_target_kind(uint64_t t) { return static_cast<DemTargetKind>(t >> 62); }
inline uint64_t dem_target_value(uint64_t t) { return t & kDemTargetValueMask; }

// Detector and observable ids in the text stay below this (32-bit ids with
// room for the model's tag bits).
inline constexpr uint64_t kDemMaxId = uint64_t{1} << 31;

// Deepest nesting of repeat blocks; unrolling recurses once per level.
inline constexpr size_t kDemMaxNesting = 256;

struct DemInstruction {
    DemOp op;
    uint32_t line;
    uint32_t arg_begin, arg_end;        // into DemSyntax::args
    uint32_t target_begin, target_end;  // into DemSyntax::targets
    uint64_t repeat_count = 0;          // repeat only
    uint32_t body_end = 0;              // repeat only: one past the last instruction of its body
};

// Instructions in text order; a repeat's body is the run that follows it up
// to body_end, so blocks nest without pointers.
struct DemSyntax {
    std::vector<DemInstruction> instructions;
    std::vector<double> args;
    std::vector<uint64_t> targets;
};

// Parses model text; errors read "line N: what is wrong".
Result<DemSyntax> parse_dem_syntax(std::string_view text);

}  // namespace vornex
