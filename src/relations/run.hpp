// The seam between the array engine and the relations, as the relations meet it: a relation
// bound into a BoundRelation (bound_relation.hpp), which applies the relation on lanes.
#pragma once

#include "bound_relation.hpp"
#include "interleaved.hpp"
#include "lanes.hpp"
#include "newton_run.hpp"

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

// A relation that maps a run of any length itself, keeping several vectors in flight.
template <class Relation>
concept RunRelation = requires(const Relation& relation, const double* in, double* out) {
    relation.run(in, out, std::size_t{});
};

// A relation written for any element type, which therefore also takes several vectors side
// by side (interleaved.hpp): its long dependent chains then overlap.
template <class Relation>
concept InterleavedRelation =
    requires(const Relation& relation, Interleaved<Lanes, vectors_in_flight> x) {
        { relation(x) } -> std::same_as<Interleaved<Lanes, vectors_in_flight>>;
    };

// A Newton relation maps a run through newton_run.hpp, another run relation itself.
template <class Relation>
void apply_run(const void* constants, const double* in, double* out, std::size_t count)
{
    const Relation& relation = *static_cast<const Relation*>(constants);
    if constexpr (NewtonRelation<Relation>) {
        solve_newton_run(relation, in, out, count);
    } else {
        relation.run(in, out, count);
    }
}

// Blocks of vectors_in_flight vectors from in and out on, as many as fit in count elements;
// returns how many elements that was. Flattened: the relation and its power are inlined
// whatever their size, so that the per-call constants stay in registers across the blocks
// and the vectors never pass through memory.
template <class Relation>
[[gnu::flatten]] std::size_t apply_interleaved(const Relation& relation, const double* in,
                                               double* out, std::size_t count)
{
    constexpr std::size_t block = std::size_t{vectors_in_flight} * lane_count;
    std::size_t i = 0;
    for (; i + block <= count; i += block) {
        store_interleaved(out + i, relation(load_interleaved<vectors_in_flight>(in + i)));
    }
    return i;
}

// Interleaved vectors, then whole vectors of elements, then the last few padded out to a
// whole one with copies of the last element. A scalar tail would go through the scalar
// power function and give other bits than the same element gets inside a run, so every
// element, in whatever position of whatever run, takes the same path.
template <LaneRelation Relation>
void apply_lanes(const void* constants, const double* in, double* out, std::size_t count)
{
    // A small relation is copied, so that its constants stay in registers across the
    // stores; a large one is not.
    using Local = std::conditional_t<(sizeof(Relation) <= 64), const Relation, const Relation&>;
    Local relation = *static_cast<const Relation*>(constants);
    constexpr std::size_t width = lane_count;
    std::size_t i = 0;
    if constexpr (InterleavedRelation<Relation> && vectors_in_flight > 1) {
        i = apply_interleaved(relation, in, out, count);
    }
    for (; i + width <= count; i += width) {
        store_lanes(out + i, relation(load_lanes(in + i)));
    }
    if (i == count) {
        return;
    }
    const std::size_t remaining = count - i;
    double padded[width];
    double results[width];
    for (std::size_t lane = 0; lane < width; ++lane) {
        padded[lane] = in[i + (lane < remaining ? lane : remaining - 1)];
    }
    store_lanes(results, relation(load_lanes(padded)));
    __builtin_memcpy(out + i, results, remaining * sizeof(double));
}

template <class Relation>
    requires NewtonRelation<Relation> || RunRelation<Relation> || LaneRelation<Relation>
BoundRelation bind_relation(const Relation& relation)
{
    if constexpr (NewtonRelation<Relation> || RunRelation<Relation>) {
        return BoundRelation{&apply_run<Relation>, &relation};
    } else {
        return BoundRelation{&apply_lanes<Relation>, &relation};
    }
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
