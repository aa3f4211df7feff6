// The one place that includes Python and the NumPy C API. Every binding
// translation unit includes this first; module.cpp alone imports the NumPy
// API table (VORNEX_IMPORT_NUMPY).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL vornex_numpy_api
#ifndef VORNEX_IMPORT_NUMPY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
