// The step from the relations back to the module: a bound relation mapped over an input into
// a new ndarray. evaluate.hpp, compiled per instruction set, needs nothing else of the module.
#pragma once

#include "../relations/bound_relation.hpp"
#include "array_map.hpp"
#include "python.hpp"

namespace ventaroxi {

// Maps `relation` over every element of the described float64 array and returns the new
// result array, or nullptr with MemoryError or PanicException set.
PyObject* map_to_new_array(const ArrayDescription& input, BoundRelation relation);

}  // namespace ventaroxi
