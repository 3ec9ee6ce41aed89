// Matching a fast call's arguments to a function's parameters, and converting them.
#pragma once

#include "array_map.hpp"
#include "py_ref.hpp"
#include "python.hpp"
#include "signatures.hpp"

#include <array>

namespace ventaroxi {

// One borrowed argument per parameter, in parameter order; nullptr where none was given.
using ArgumentSlots = std::array<PyObject*, max_parameters>;

// Interns every parameter name once, so that keywords match by identity. Called by module
// creation before any function can be called.
[[nodiscard]] bool intern_parameter_names();

// Fills `slots` from the fast-call vector; raises TypeError and returns false for a
// malformed call. Nothing is converted here.
[[nodiscard]] bool match_arguments(std::size_t function, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames, ArgumentSlots& slots);

// The array argument: a float64 ndarray (or subclass) of the allowed rank, returned as a
// new reference; otherwise nullptr with the error set.
PyRef convert_array(PyObject* object, const char* parameter, ArrayRank rank);

// The array once more, at the point of use: called after the last conversion that can run
// Python code, it checks the array as convert_array does (raising the same TypeError) and
// copies out its description. Nothing from here to the end of the element loop can run
// Python code or let another thread run, so the loop reads the array as it was checked.
// An array of more than 32 dimensions raises PanicException.
[[nodiscard]] bool describe_array(PyObject* object, const char* parameter, ArrayRank rank,
                                  ArrayDescription& description);

// `ga`: whatever the interpreter's float conversion gives.
[[nodiscard]] bool convert_ga(PyObject* object, double& ga);

// `sup`: Python's bool, or a NumPy boolean through its truth slot.
[[nodiscard]] bool convert_sup(PyObject* object, bool& sup);

}  // namespace ventaroxi
