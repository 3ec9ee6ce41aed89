// The seam between the array engine and the relations: one relation, with its per-call
// constants already formed, applied to one contiguous run of elements.
#pragma once

#include <cstddef>

namespace ventaroxi {

// A relation bound to its constants, type-erased so that one engine serves them all.
struct RunKernel {
    void (*apply)(const void* relation, const double* in, double* out, std::size_t count);
    const void* relation;

    void operator()(const double* in, double* out, std::size_t count) const
    {
        apply(relation, in, out, count);
    }
};

// Every element goes through the relation's own per-element step, so the result of a run
// does not depend on where the run starts or how long it is.
template <class Relation>
void apply_elementwise(const void* bound, const double* in, double* out, std::size_t count)
{
    const Relation& relation = *static_cast<const Relation*>(bound);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = relation(in[i]);
    }
}

template <class Relation>
RunKernel bind_run(const Relation& relation)
{
    return RunKernel{&apply_elementwise<Relation>, &relation};
}

}  // namespace ventaroxi
