// Arguments shared by the classes that run configurable BP (BPOSDDecoder,
// BeliefMatchingDecoder).
#pragma once

#include <cstddef>
#include <string>

#include "bp/bp_settings.h"
#include "module/args.h"
#include "module/python.h"

namespace vornex::py {

// BP settings from the keyword arguments max_iter, bp_method,
// ms_scaling_factor, schedule and stop, at positions first .. first + 4;
// omitted ones keep the values in `defaults`.
BpSettings bp_settings_argument(const Args& args, size_t first, BpSettings defaults);

}  // namespace vornex::py
