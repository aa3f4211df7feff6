// Everything a class or function binding needs. Per-class files (*_py.cpp)
// include this and nothing else from the module frame.
//
// Adding a class:
//   1. src/<subsystem>/<name>_py.cpp: one `ModuleItem& <name>_class()`
//      returning a function-local static ClassSpec (see class_def.h). The
//      standard decoder methods come from decoder_methods.h; other methods
//      are functions of the native object (`PyObject* m(const Native&,
//      const Args&)` reads, `Native&` writes), and objects of other classes
//      passed as arguments are borrowed with borrowed_arg.h.
//   2. src/module/registry.h: declare `<name>_class()`; src/module/module.cpp:
//      one line at the class's place in kRegistry.
#pragma once

#include "module/args.h"
#include "module/arrays.h"
#include "module/borrow.h"
#include "module/borrowed_arg.h"
#include "module/check_matrix.h"
#include "module/class_def.h"
#include "module/code_constructor.h"
#include "module/convert.h"
#include "module/decoder_methods.h"
#include "module/model_arg.h"
#include "module/predict_methods.h"
#include "module/errors.h"
#include "module/member_groups.h"
#include "module/python.h"
#include "module/ref.h"
#include "module/syndrome_arrays.h"
#include "module/values.h"
