// Newton solves of a whole run of elements on lanes, several vectors at a time.
//
// One iteration on lanes is a chain of divisions, roots or powers, each waiting for the one
// before, so a single vector leaves the divider and the multipliers idle most of the time:
// `vectors_in_flight` vectors iterate side by side, and their chains overlap. A step with
// powers runs to hundreds of instructions, more than the processor looks ahead, so issued
// one vector after the other their chains barely overlap: where the relation says
// `steps_interleaved`, each operation of the step is issued for every vector before the
// next (interleaved.hpp). What a lane does when its solve has ended is the relation's
// `refill`:
//
// - each_lane: it writes its element and takes the run's next one at once (refill.hpp),
//   which pays where the iteration counts of neighbouring elements differ much;
// - whole_vector: it waits, and the vector writes its results and loads the next elements
//   when its last lane has ended. Nothing is paid per element, and the early lanes sit out
//   a round or two: cheaper where the counts differ little and an iteration is short.
//
// Either way every element runs exactly its one-element solve, whatever lane and round it
// runs in: its relation's entry test, its start, the same steps, the same stop rule and
// acceptance, and its relation's second solve where it has one. Lanes share nothing but the
// constants, so an element's bits do not depend on its neighbours.
#pragma once

#include "interleaved.hpp"
#include "lanes.hpp"
#include "newton.hpp"
#include "refill.hpp"
#include "rejected.hpp"

#include <algorithm>
#include <concepts>
#include <cstddef>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// The step of each form on lanes: the next iterate, and the quantity its stop rule tests.
struct GeneralNewtonForm {
    template <class Relation, class Real>
    static Real advance(const Relation& relation, const Real& x, const Real& t, Real& tested)
    {
        const auto settings = relation.settings(t);
        const Real step = settings.residual(x) / settings.slope(x);
        tested = fabs(step);
        return x - step;
    }
    // A step of exactly the tolerance is accepted; a NaN root is not.
    static Mask found(Lanes tested, Lanes x) { return ~(tested > newton_tolerance) & ~isnan(x); }
};

struct FixedLoopNewtonForm {
    template <class Relation, class Real>
    static Real advance(const Relation& relation, const Real& x, const Real& t, Real& tested)
    {
        const Real next = x - relation.newton_step(x, t);
        tested = fabs(next - x);
        return next;
    }
    // Only a change strictly below the tolerance is accepted.
    static Mask found(Lanes tested, Lanes) { return tested < newton_tolerance; }
};

// Where a relation solves an element a second time: from `start` in the lanes `again`; the
// other lanes whose first solve ended write `value`.
struct NewtonRetry {
    Mask again;
    Lanes start;
    Lanes value;
};

enum class NewtonRefill { each_lane, whole_vector };

// A relation solved element by element by one of the forms from `start`. It may have an
// entry test, `admits(t)`, false where the element is NaN without iterating, and a second
// solve, `retry(ended, t, outcome)`, for the lanes `ended` whose first solve has ended with
// `outcome` (its root or NaN).
template <class Relation>
concept NewtonRelation = requires(const Relation& relation) {
    typename Relation::newton_form;
    { Relation::vectors_in_flight } -> std::convertible_to<int>;
    { Relation::refill } -> std::convertible_to<NewtonRefill>;
    { Relation::steps_interleaved } -> std::convertible_to<bool>;
    { relation.start } -> std::convertible_to<double>;
};

namespace newton_detail {

template <class Relation>
concept Retries = requires(const Relation& relation, Mask ended, Lanes t) {
    { relation.retry(ended, t, t) } -> std::same_as<NewtonRetry>;
};

// One vector in flight: the lanes `running` iterate; the others hold still, each with the
// final iterate of its element and what the stop rule tested there, from which `result`
// tells its value.
struct NewtonLanes {
    Lanes t;
    Lanes x;
    Lanes tested;
    Lanes passes;  // iterations of the current solve
    Mask second;   // in the element's second solve
    Mask running;
};

// The steps of a relation's solves on one vector, shared by both refills.
template <class Relation>
struct NewtonLaneSteps {
    using Form = typename Relation::newton_form;
    const Relation& relation;

    // The lanes `which` start the solves of the targets `t`. An element the entry test
    // refuses is finished at once, with NaN (a NaN iterate fails either form's acceptance)
    // and no second solve.
    void begin(NewtonLanes& v, Mask which, Lanes t) const
    {
        Mask admitted = every_lane();
        if constexpr (requires { relation.admits(t); }) {
            admitted = relation.admits(t);
        }
        v.t = select(which, t, v.t);
        v.x = select(which, select(admitted, Lanes{} + relation.start, Lanes{} + rejected), v.x);
        v.tested = select(which, Lanes{} + rejected, v.tested);
        v.passes = select(which, Lanes{}, v.passes);
        v.second = (v.second & ~which) | (which & ~admitted);
        v.running = (v.running & ~which) | (which & admitted);
    }

    // One iteration of the running lanes, then the end of the solves that stop; returns
    // the lanes that stopped.
    Mask step(NewtonLanes& v) const
    {
        Lanes tested;
        const Lanes next = Form::advance(relation, v.x, v.t, tested);
        return finish_step(v, next, tested);
    }

    // One iteration of every vector, the relation's steps issued for all of them before
    // the next (interleaved.hpp); the lanes that stopped in each.
    template <int vectors>
    void step_interleaved(NewtonLanes (&lanes)[vectors], Mask (&stopped)[vectors]) const
    {
        Interleaved<Lanes, vectors> x;
        Interleaved<Lanes, vectors> t;
        for (int j = 0; j < vectors; ++j) {
            x.vector[j] = lanes[j].x;
            t.vector[j] = lanes[j].t;
        }
        Interleaved<Lanes, vectors> tested;
        const Interleaved<Lanes, vectors> next = Form::advance(relation, x, t, tested);
        for (int j = 0; j < vectors; ++j) {
            stopped[j] = finish_step(lanes[j], next.vector[j], tested.vector[j]);
        }
    }

    // The iterate `next` taken by the running lanes, whose stop rule tested `tested`.
    static Mask finish_step(NewtonLanes& v, Lanes next, Lanes tested)
    {
        v.x = select(v.running, next, v.x);
        v.tested = select(v.running, tested, v.tested);
        v.passes += 1;
        const Mask stopped = v.running & ~((tested > newton_tolerance) & (v.passes < newton_cap));
        v.running &= ~stopped;
        return stopped;
    }

    // The relation's second solve, for the lanes `ended` among those whose first has ended:
    // returns the lanes it starts. The others keep its outcome as their final iterate (the
    // root, or NaN), which `result` then passes on.
    Mask retry(NewtonLanes& v, Mask ended) const
    {
        const Mask first = ended & ~v.second;
        const NewtonRetry retry = relation.retry(first, v.t, result(v));
        const Mask again = retry.again & first;
        v.x = select(again, retry.start, select(first, retry.value, v.x));
        v.passes = select(again, Lanes{}, v.passes);
        v.second |= first;
        v.running |= again;
        return again;
    }

    // The value of each lane whose element is finished: the root, or NaN.
    static Lanes result(const NewtonLanes& v)
    {
        return select(Form::found(v.tested, v.x), v.x, Lanes{} + rejected);
    }
};

// Every vector's iteration, with no test of an outcome between them, so that their chains
// overlap: interleaved where the relation says so, else one vector after the other (a
// vector with no lane running is then skipped); returns false once no lane is running.
template <class Relation, int vectors>
bool step_all(const NewtonLaneSteps<Relation>& steps, NewtonLanes (&lanes)[vectors],
              Mask (&finished)[vectors])
{
    if constexpr (Relation::steps_interleaved && vectors > 1) {
        Mask running{};
        for (const NewtonLanes& v : lanes) {
            running |= v.running;
        }
        if (!any(running)) {
            return false;
        }
        steps.step_interleaved(lanes, finished);
        return true;
    }
    bool running = false;
    for_each_vector(lanes, [&](NewtonLanes& v, auto j) {
        finished[j] = Mask{};
        if (any(v.running)) {
            running = true;
            finished[j] = steps.step(v);
        }
    });
    return running;
}

// The each_lane refill (refill.hpp): a lane takes the run's next element as soon as its own
// has finished.
template <class Relation, int vectors>
class NewtonLaneFeed {
public:
    using Vector = NewtonLanes;

    NewtonLaneFeed(const Relation& relation, const double* in, double* out, std::size_t count)
        : steps_{relation}, in_(in), out_(out), count_(count)
    {
        for (int lane = 0; lane < lane_count; ++lane) {
            lane_index_[lane] = lane;
        }
    }

    // Lanes with no element, holding still at the start.
    Vector idle() const
    {
        Vector v{};
        v.x = Lanes{} + steps_.relation.start;
        return v;
    }

    // The next element the entry test admits starts in the lane; those refused on the way
    // are written at once.
    void take(Vector& v, int j, int lane)
    {
        const Mask at = lane_index_ == lane;
        for (std::size_t next = next_; next < count_; ++next) {
            steps_.begin(v, at, lanes_of(in_[next]));
            if (any(v.running & at)) {
                element_[j][lane] = next;
                next_ = next + 1;
                return;
            }
            out_[next] = rejected;
        }
        next_ = count_;
    }

    template <int count>
    bool step(Vector (&lanes)[count], Mask (&finished)[count]) const
    {
        if (!step_all(steps_, lanes, finished)) {
            return false;
        }
        if constexpr (Retries<Relation>) {
            for (int j = 0; j < count; ++j) {
                if (any(finished[j])) {
                    finished[j] &= ~steps_.retry(lanes[j], finished[j]);
                }
            }
        }
        return true;
    }

    void write(const Vector& v, int j, unsigned lanes)
    {
        double value[lane_count];
        store_lanes(value, steps_.result(v));
        for (; lanes != 0; lanes &= lanes - 1) {
            const int lane = __builtin_ctz(lanes);
            out_[element_[j][lane]] = value[lane];
        }
    }

private:
    NewtonLaneSteps<Relation> steps_;
    const double* in_;
    double* out_;
    std::size_t count_;
    std::size_t next_ = 0;
    std::size_t element_[vectors][lane_count];  // the element each lane holds
    IntegerLanes lane_index_{};
};

template <class Relation, int vectors>
void solve_each_lane(const Relation& relation, const double* in, double* out, std::size_t count)
{
    NewtonLaneFeed<Relation, vectors> feed(relation, in, out, count);
    iterate_refilling_lanes<vectors>(feed);
}

// Flattened: every step of the relation, its powers included, is inlined, since a call in
// the loop would spill the vectors in flight around it.
template <class Relation, int vectors>
[[gnu::flatten]] void solve_whole_vectors(const Relation& relation, const double* in, double* out,
                                          std::size_t count)
{
    const NewtonLaneSteps<Relation> steps{relation};
    NewtonLanes lanes[vectors]{};
    for (NewtonLanes& v : lanes) {
        v.x = Lanes{} + relation.start;
    }
    std::size_t first[vectors];  // the vector's first element, or count when it has none
    constexpr std::size_t width = lane_count;
    std::size_t next = 0;
    const auto store = [&](const NewtonLanes& v, std::size_t at) {
        if (count - at >= width) {
            store_lanes(out + at, steps.result(v));
        } else {
            double value[lane_count];
            store_lanes(value, steps.result(v));
            __builtin_memcpy(out + at, value, (count - at) * sizeof(double));
        }
    };
    // The next whole vector of elements starts in `v`; the last is padded with copies of
    // the last element. A vector whose every element the entry test refuses is written at
    // once.
    const auto load = [&](NewtonLanes& v, std::size_t& at) {
        for (; next < count; next = std::min(next + width, count)) {
            at = next;
            Lanes t;
            if (count - next >= width) {
                t = load_lanes(in + next);
            } else {
                double padded[lane_count];
                for (std::size_t lane = 0; lane < width; ++lane) {
                    padded[lane] = in[std::min(next + lane, count - 1)];
                }
                t = load_lanes(padded);
            }
            steps.begin(v, every_lane(), t);
            if (any(v.running)) {
                next = std::min(next + width, count);
                return;
            }
            store(v, at);
        }
        at = count;
    };
    for_each_vector(lanes, [&](NewtonLanes& v, auto j) { load(v, first[j]); });
    Mask finished[vectors];
    while (step_all(steps, lanes, finished)) {
        for_each_vector(lanes, [&](NewtonLanes& v, auto j) {
            if (!any(v.running) && first[j] < count) {
                // Second solves start together, once every first solve of the vector ended.
                if constexpr (Retries<Relation>) {
                    if (any(steps.retry(v, every_lane()))) {
                        return;
                    }
                }
                store(v, first[j]);
                load(v, first[j]);
            }
        });
    }
}

}  // namespace newton_detail

// Maps a run of `count` elements: as many vectors in flight as the relation runs best with,
// fewer for a run too short to fill them.
template <NewtonRelation Relation, int vectors = Relation::vectors_in_flight>
void solve_newton_run(const Relation& relation, const double* in, double* out, std::size_t count)
{
    // Within one vector no lane has another element to take.
    if (count <= static_cast<std::size_t>(lane_count)) {
        newton_detail::solve_whole_vectors<Relation, 1>(relation, in, out, count);
        return;
    }
    if constexpr (vectors > 1) {
        if (count <= std::size_t{vectors - 1} * lane_count) {
            solve_newton_run<Relation, vectors - 1>(relation, in, out, count);
            return;
        }
    }
    if constexpr (Relation::refill == NewtonRefill::each_lane) {
        newton_detail::solve_each_lane<Relation, vectors>(relation, in, out, count);
    } else {
        newton_detail::solve_whole_vectors<Relation, vectors>(relation, in, out, count);
    }
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
