// Which Python errors a call may set aside, and which must reach the caller as they are.
#pragma once

#include "python.hpp"

namespace ventaroxi {

// True when the pending error must reach the caller unchanged: a BaseException that is not an
// Exception (KeyboardInterrupt, SystemExit, GeneratorExit: the program is being stopped, as
// its user or its own code asked) or a MemoryError (reported as anything else, it would send
// the caller after the wrong fault). Any other error is an ordinary failure of the code that
// raised it: a name that cannot be read, a str() that raises.
[[nodiscard]] inline bool pending_error_must_propagate()
{
    PyObject* type = PyErr_Occurred();
    return type != nullptr &&
        (!PyErr_GivenExceptionMatches(type, PyExc_Exception) ||
         PyErr_GivenExceptionMatches(type, PyExc_MemoryError));
}

// Clears an ordinary pending error (or none) and returns true; leaves one that must
// propagate pending and returns false, for the caller to return at once.
[[nodiscard]] inline bool set_aside_pending_error()
{
    if (pending_error_must_propagate()) {
        return false;
    }
    PyErr_Clear();
    return true;
}

}  // namespace ventaroxi
