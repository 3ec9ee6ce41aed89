// Several vectors of lanes in flight, each lane iterating one element of a run, and a lane
// whose element has finished taking the next one at once instead of waiting for the slowest
// lane of its vector.
//
// An iteration on lanes is a chain of divisions, roots or powers, each waiting for the one
// before, so one vector leaves the divider and the multipliers idle most of the time; the
// chains of several vectors overlap. Which lanes finish in a round is as good as random:
// refilling them costs about one mispredicted branch per element, which pays where the
// iteration counts of neighbouring elements differ much.
#pragma once

#include "lanes.hpp"

#include <utility>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// What the engine asks of an iteration, for its vector type `Stepper::Vector`, `j` being the
// vector's place among those in flight (what the stepper keeps of a lane beyond its vector,
// such as the element it writes, it keeps by place: a vector holds lanes only, so that it
// stays in registers):
// - `idle()`: a vector with no lane iterating;
// - `take(v, j, lane)`: starts the run's next element in lane `lane` of `v`, or leaves the
//   lane idle at the end of the run;
// - `step(lanes, finished)`: one iteration of every lane of every vector, the lanes whose
//   element finished in `finished`; false, with no iteration, once no lane iterates;
// - `write(v, j, lanes)`: writes the results of the elements of those lanes (the bits of
//   `lane_bits`).
template <class Stepper>
concept LaneIteration = requires(Stepper& stepper, typename Stepper::Vector& v,
                                 typename Stepper::Vector (&lanes)[1], Mask (&finished)[1]) {
    { stepper.idle() } -> std::same_as<typename Stepper::Vector>;
    stepper.take(v, 0, 0);
    { stepper.step(lanes, finished) } -> std::same_as<bool>;
    stepper.write(v, 0, 0u);
};

// Calls `body(v, j)` for every vector j, j a constant, so that the lanes stay in registers.
template <class Vector, int vectors, class Body>
void for_each_vector(Vector (&lanes)[vectors], const Body& body)
{
    [&]<int... j>(std::integer_sequence<int, j...>) {
        (body(lanes[j], std::integral_constant<int, j>{}), ...);
    }(std::make_integer_sequence<int, vectors>{});
}

// Runs `vectors` vectors until the run is exhausted. Every vector's step is issued before
// any of their outcomes is tested, so that their chains overlap. Flattened: a call in the
// loop would spill the vectors in flight around it.
template <int vectors, LaneIteration Stepper>
[[gnu::flatten]] void iterate_refilling_lanes(Stepper& stepper)
{
    // The vectors are this function's own, so that they can live in registers.
    typename Stepper::Vector lanes[vectors];
    for_each_vector(lanes, [&](auto& v, auto j) {
        v = stepper.idle();
        for (int lane = 0; lane < lane_count; ++lane) {
            stepper.take(v, j, lane);
        }
    });
    for (;;) {
        Mask finished[vectors];
        if (!stepper.step(lanes, finished)) {
            return;
        }
        for_each_vector(lanes, [&](auto& v, auto j) {
            unsigned ended = lane_bits(finished[j]);
            if (ended == 0) {
                return;
            }
            stepper.write(v, j, ended);
            for (; ended != 0; ended &= ended - 1) {
                stepper.take(v, j, __builtin_ctz(ended));
            }
        });
    }
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
