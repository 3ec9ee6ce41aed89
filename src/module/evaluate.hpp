// Binds a relation to one call's constants and hands it to the array engine.
#pragma once

#include "../relations/relation_list.hpp"
#include "../relations/run.hpp"
#include "result_array.hpp"

namespace ventaroxi {
inline namespace VENTAROXI_ISA {

// The relation's constructor forms its per-call constants once; the engine then applies
// its per-element step to every element.
template <class Relation>
PyObject* evaluate(const ArrayDescription& input, double ga, bool sup)
{
    const Relation relation = relations::make_relation<Relation>(ga, sup);
    return map_to_new_array(input, relations::bind_relation(relation));
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi
