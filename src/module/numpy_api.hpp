// NumPy's C-API table, fetched on the first call that converts an array and kept for the
// life of the process. Importing the module never imports NumPy.
#pragma once

#include "python.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL ventaroxi_ARRAY_API
#ifndef VENTAROXI_OWNS_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

namespace ventaroxi::numpy_api {

// True once the table is usable. Otherwise raises PanicException and returns false;
// the next call tries again.
bool ensure();

// The native float64 descriptor, valid after ensure() succeeded.
PyArray_Descr* float64();

}  // namespace ventaroxi::numpy_api
