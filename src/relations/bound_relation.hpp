// The seam between the array engine and the relations, as the engine sees it: one relation,
// with its per-call constants already formed, applied to one contiguous run of elements.
// Nothing here depends on the instruction set, so the engine includes this alone.
#pragma once

#include <cstddef>

namespace ventaroxi {

// A relation bound to its constants, type-erased so that one engine serves them all. The
// engine calls `apply(constants, in, out, count)`; it is a plain record, so that nothing of
// it is compiled differently for different instruction sets. run.hpp binds a relation.
struct BoundRelation {
    void (*apply)(const void* constants, const double* in, double* out, std::size_t count);
    const void* constants;
};

}  // namespace ventaroxi
