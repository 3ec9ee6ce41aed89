// Binds a relation to one call's constants and hands it to the array engine.
#pragma once

#include "../relations/run.hpp"
#include "array_map.hpp"
#include "python.hpp"

#include <type_traits>

namespace ventaroxi {

// Maps `kernel` over every element of the described float64 array and returns the new
// result array, or nullptr with MemoryError or PanicException set.
PyObject* map_to_new_array(const ArrayDescription& input, RunKernel kernel);

inline namespace VENTAROXI_ISA {

// The relation's constructor forms its per-call constants once; the engine then applies
// its per-element step to every element.
template <class Relation>
PyObject* evaluate(const ArrayDescription& input, double ga, bool sup)
{
    if constexpr (std::is_constructible_v<Relation, double, bool>) {
        const Relation relation(ga, sup);
        return map_to_new_array(input, relations::bind_run(relation));
    } else {
        static_cast<void>(sup);
        const Relation relation(ga);
        return map_to_new_array(input, relations::bind_run(relation));
    }
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi
