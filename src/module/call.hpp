// The path every call of a module function takes.
#pragma once

#include "python.hpp"

#include <cstddef>

namespace ventaroxi {

// Matches and converts the arguments of function table row `function`, maps its relation
// and returns the new array; or nullptr with TypeError, MemoryError or PanicException set.
PyObject* call_function(std::size_t function, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept;

}  // namespace ventaroxi
