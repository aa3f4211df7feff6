// Arguments shared by the classes that run configurable BP (BPOSDDecoder,
// BeliefMatchingDecoder).
#pragma once

#include <cstddef>
#include <string>

#include "bp/bp_settings.h"
#include "module/args.h"
#include "module/python.h"

namespace vornex::py {

// The `model` argument of from_detector_error_model: model text (str), a
// path (os.PathLike) to a file holding it, or any object whose str() is the
// text (a stim.DetectorErrorModel, for one).
std::string model_text_argument(PyObject* model);

// BP settings from the keyword arguments max_iter, bp_method,
// ms_scaling_factor, schedule and stop, at positions first .. first + 4;
// omitted ones keep the values in `defaults`.
BpSettings bp_settings_argument(const Args& args, size_t first, BpSettings defaults);

}  // namespace vornex::py
