// The strided path of the array engine: every element of a view that is not one gap-free
// block, read at its byte address, its result stored in C order.
#pragma once

#include "array_map.hpp"

namespace ventaroxi {

// Stores relation(element i) at out[i] for every element of `view`, i counted in row-major
// index order; `out` holds one double per element.
void map_strided(const StridedView& view, BoundRelation relation, double* out);

}  // namespace ventaroxi
