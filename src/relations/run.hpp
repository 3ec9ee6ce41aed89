// The seam between the array engine and the relations, as the relations meet it: a relation
// bound into a BoundRelation (bound_relation.hpp), which applies the relation on lanes.
#pragma once

#include "bound_relation.hpp"
#include "interleaved.hpp"
#include "lanes.hpp"

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

// A relation that is faster on several vectors at a time (their long dependent chains
// then overlap) maps `block_count` elements from `in` to `out` in one call.
template <class Relation>
concept BlockRelation = requires(const Relation& relation, const double* in, double* out) {
    relation(in, out);
    { Relation::block_count } -> std::convertible_to<int>;
};

// A relation written for any element type, which therefore also takes several vectors side
// by side (interleaved.hpp): its long dependent chains then overlap.
template <class Relation>
concept InterleavedRelation =
    requires(const Relation& relation, Interleaved<Lanes, vectors_in_flight> x) {
        { relation(x) } -> std::same_as<Interleaved<Lanes, vectors_in_flight>>;
    };

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

// Interleaved vectors (or blocks), then whole vectors of elements, then the last few padded
// out to a whole one with copies of the last element. A scalar tail would go through the
// scalar power function and give other bits than the same element gets inside a run, so
// every element, in whatever position of whatever run, takes the same path.
template <LaneRelation Relation>
void apply_lanes(const void* constants, const double* in, double* out, std::size_t count)
{
    // A small relation is copied, so that its constants stay in registers across the
    // stores; a large one is not.
    using Local = std::conditional_t<(sizeof(Relation) <= 64), const Relation, const Relation&>;
    Local relation = *static_cast<const Relation*>(constants);
    constexpr std::size_t width = [] {
        if constexpr (BlockRelation<Relation>) {
            return static_cast<std::size_t>(Relation::block_count);
        } else {
            return static_cast<std::size_t>(lane_count);
        }
    }();
    const auto whole = [&](const double* from, double* to) {
        if constexpr (BlockRelation<Relation>) {
            relation(from, to);
        } else {
            store_lanes(to, relation(load_lanes(from)));
        }
    };
    std::size_t i = 0;
    if constexpr (InterleavedRelation<Relation> && vectors_in_flight > 1) {
        i = apply_interleaved(relation, in, out, count);
    }
    for (; i + width <= count; i += width) {
        whole(in + i, out + i);
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
    whole(padded, results);
    __builtin_memcpy(out + i, results, remaining * sizeof(double));
}

template <LaneRelation Relation>
BoundRelation bind_relation(const Relation& relation)
{
    return BoundRelation{&apply_lanes<Relation>, &relation};
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
