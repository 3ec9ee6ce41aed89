// Binds a relation to one call's constants and hands it to the array engine.
#pragma once

#include "../relations/run.hpp"
#include "result_array.hpp"

#include <type_traits>

namespace ventaroxi {
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
