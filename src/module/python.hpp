// The one way this library includes the interpreter's headers.
#pragma once

#include <cstddef>
#include <cstdint>

// CPython 3.11 declares the allocation-tracing calls without C linkage when compiled as
// C++; declared here first, they keep C linkage through Python.h's later declarations.
extern "C" int PyTraceMalloc_Track(unsigned int domain, std::uintptr_t ptr, std::size_t size);
extern "C" int PyTraceMalloc_Untrack(unsigned int domain, std::uintptr_t ptr);

#define PY_SSIZE_T_CLEAN
#include <Python.h>
