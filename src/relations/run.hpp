// The seam between the array engine and the relations, as the relations meet it: a relation
// bound into a RunKernel (run_kernel.hpp), whose run applies the relation on lanes.
#pragma once

#include "lanes.hpp"
#include "run_kernel.hpp"

#include <concepts>
#include <cstddef>
#include <type_traits>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// A relation whose per-element step is written once for any element type.
template <class Relation>
concept LaneRelation = requires(const Relation& relation, Lanes x) {
    { relation(x) } -> std::same_as<Lanes>;
};

// Whole vectors of elements, then the last few padded out to a whole vector with copies
// of the last element. A scalar tail would go through the scalar power function and give
// other bits than the same element gets inside a run, so every element, in whatever
// position of whatever run, takes the same path.
template <LaneRelation Relation>
void apply_lanes(const void* bound, const double* in, double* out, std::size_t count)
{
    // A small relation is copied, so that its constants stay in registers across the
    // stores; a large one (the area-ratio inverse carries its shared passes) is not.
    using Local = std::conditional_t<(sizeof(Relation) <= 64), const Relation, const Relation&>;
    Local relation = *static_cast<const Relation*>(bound);
    std::size_t i = 0;
    for (; i + lane_count <= count; i += lane_count) {
        store_lanes(out + i, relation(load_lanes(in + i)));
    }
    if (i == count) {
        return;
    }
    const std::size_t remaining = count - i;
    double padded[lane_count];
    for (std::size_t lane = 0; lane < lane_count; ++lane) {
        padded[lane] = in[i + (lane < remaining ? lane : remaining - 1)];
    }
    const Lanes results = relation(load_lanes(padded));
    __builtin_memcpy(out + i, &results, remaining * sizeof(double));
}

template <LaneRelation Relation>
RunKernel bind_run(const Relation& relation)
{
    return RunKernel{&apply_lanes<Relation>, &relation};
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
