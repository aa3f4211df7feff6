// The `model` argument of from_detector_error_model: model text (str), a
// path (os.PathLike) to a file holding it, or any object whose str() is the
// text (a stim.DetectorErrorModel, for one).
#pragma once

#include <string>

#include "module/python.h"

namespace vornex::py {

std::string model_text_argument(PyObject* model);

}  // namespace vornex::py
