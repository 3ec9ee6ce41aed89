// Internal faults, raised at the interpreter boundary as PanicException.
#pragma once

#include "python.hpp"

namespace ventaroxi {

// Raises PanicException and returns nullptr, so that a caller can `return raise_panic(...)`.
// The class derives directly from BaseException: `except Exception` does not swallow a
// fault. A Python error pending at the call is what caused the fault: its type and text
// are appended to the message as ": Type: text" and it becomes the panic's __cause__.
[[gnu::cold]] PyObject* raise_panic(const char* message);

// The same, for a fault whose message is fixed text: the pending error is written to
// standard error instead (never through sys.excepthook) and becomes the panic's __cause__.
[[gnu::cold]] PyObject* raise_panic_printing_cause(const char* message);

}  // namespace ventaroxi
