// Mach number from the area ratio A/A*, by bisection on one side of the sonic point.
#pragma once

#include "area_ratio_search.hpp"
#include "area_ratio_window.hpp"
#include "flow_functions.hpp"
#include "interleaved.hpp"
#include "refill.hpp"
#include "rejected.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// The settling of a run's bisections, for refill.hpp: a lane takes the next opened
// bisection as soon as its own has settled; the bisections of the next targets are opened
// `preparing` vectors at a time when none is left, and a target that needs none is written
// at once.
template <class Inverse, int preparing, int vectors>
class AreaRatioFeed {
public:
    using Vector = AreaRatioSettling;

    AreaRatioFeed(const Inverse& inverse, const double* in, double* out, std::size_t count)
        : inverse_(inverse), in_(in), out_(out), count_(count)
    {
    }

    Vector idle() const { return AreaRatioSettling::idle(inverse_.sup); }

    void take(Vector& v, int j, int lane)
    {
        if (taken_ == opened_count_ && !open_next()) {
            return;
        }
        v.take(lane, opened_[taken_].lane);
        element_[j][lane] = opened_[taken_].element;
        ++taken_;
    }

    // Every lane of every vector is evaluated, the vectors interleaved (interleaved.hpp): an
    // evaluation is some two hundred instructions, and one vector's after another's overlapped
    // little; interleaved, runs of 10^6 targets took 0.83-0.89 times the time (AMD Zen 4, AVX2;
    // the opening and short runs, with more state of their own in registers, measured slower
    // so). With lanes refilled, a vector whose every lane walks outside its window is rare, and
    // a branch on it costs more than it saves. Nor does a lane walk after a pass that leaves it
    // outside its window (it passes on, one pass a step): the check after every step made runs
    // of random targets 4 % slower (AMD Zen 4, AVX2) and gained 5 % only on tables of round
    // Mach numbers, where a few roots lie next to an early midpoint.
    template <int count>
    bool step(Vector (&lanes)[count], Mask (&finished)[count]) const
    {
        bool running = false;
        Interleaved<Lanes, count> midpoints;
        for (int j = 0; j < count; ++j) {
            running |= lanes[j].running();
            midpoints.vector[j] = lanes[j].midpoint();
        }
        if (!running) {
            return false;
        }
        const Interleaved<Lanes, count> values = inverse_.area(midpoints);
        for (int j = 0; j < count; ++j) {
            const Mask before = lanes[j].running_lanes();
            lanes[j].pass(values.vector[j]);
            finished[j] = before & ~lanes[j].running_lanes();
        }
        return true;
    }

    void write(const Vector& v, int j, unsigned lanes)
    {
        const Lanes result = v.result();
        for (; lanes != 0; lanes &= lanes - 1) {
            const int lane = __builtin_ctz(lanes);
            out_[element_[j][lane]] = result[lane];
        }
    }

private:
    // Opens the bisections of the next targets; false at the end of the run.
    bool open_next()
    {
        while (next_ < count_) {
            Lanes t[preparing];
            for (int j = 0; j < preparing; ++j) {
                t[j] = Inverse::padded_load(in_, next_ + std::size_t(j) * lane_count, count_);
            }
            AreaRatioSettling search[preparing];
            Mask searched[preparing];
            inverse_.open(inverse_.area, t, search, searched);
            taken_ = opened_count_ = 0;
            for (int j = 0; j < preparing; ++j) {
                const Lanes result = Inverse::settled_result(t[j], searched[j], search[j]);
                for (int lane = 0; lane < lane_count; ++lane) {
                    const std::size_t element =
                        next_ + std::size_t(j) * lane_count + std::size_t(lane);
                    if (element >= count_) {
                        break;
                    }
                    if (searched[j][lane] != 0) {
                        opened_[opened_count_++] = {search[j].lane(lane), element};
                    } else {
                        out_[element] = result[lane];
                    }
                }
            }
            next_ = std::min(next_ + std::size_t{preparing} * lane_count, count_);
            if (opened_count_ != 0) {
                return true;
            }
        }
        return false;
    }

    struct Opened {
        AreaRatioSettling::Lane lane;
        std::size_t element;
    };

    const Inverse& inverse_;
    const double* in_;
    double* out_;
    std::size_t count_;
    std::size_t next_ = 0;
    Opened opened_[preparing * lane_count];
    std::size_t element_[vectors][lane_count];  // the element each settling lane holds
    int taken_ = 0;
    int opened_count_ = 0;
};

// Mach number from A/A* on the branch that `sup` chooses.
// t = 1 gives exactly 1 at once; every t below 1 (0, negatives, -inf included) has no
// root and ends on the sonic edge of the bracket, exactly 1; t = +inf gives the first
// supersonic midpoint (8.988465674311579e307) or, subsonic, the first point whose
// reciprocal overflows (2^-1024). A NaN target, or a NaN ga, gives NaN: every value of
// the relation then fails to compare and the search would report its first midpoint, a
// Mach number for a missing input. For ga > 1 no other target gives NaN.
// The search settles where the relation, with its own rounding error, crosses the target;
// next to M = 1, where the relation is flat, that error moves the root the most.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band), sup
// false: 6e-14 (800x) for Ma < 0.05, 2e-07 (500x) within 0.05 of Ma = 1, 4e-13 (800x) elsewhere;
// sup true: 2.5e-07 (500x) within 0.05 of Ma = 1, 8e-15 (4000x) above Ma = 20, 5e-13 (1000x)
// elsewhere.
// Cost: for 1 + 2^-20 <= ga <= 4 and finite t > 1 a few Newton evaluations predict the
// root, and the bisection evaluates only at the midpoints of the window proved around it
// (area_ratio_window.hpp), about a dozen evaluations in all; every other element is
// bisected with an evaluation at every midpoint, up to about 1080 of them, except targets
// below 1 - 4E, which no value reaches and which walk to the sonic edge unevaluated, and
// +inf, which only the subsonic points whose reciprocal overflows meet.
struct Ma_from_A_Acrit {
    A_Acrit_from_Ma area;
    bool sup;
    bool ga_is_nan;
    bool predictable;
    AreaRatioPredictor predictor;

    Ma_from_A_Acrit(double ga, bool sup_)
        : area(ga),
          sup(sup_),
          ga_is_nan(std::isnan(ga)),
          predictable(area_ratio_predictable(ga)),
          predictor(area)
    {
    }

    // One element takes the path of the lanes, in every lane, but evaluates the relation by
    // its scalar steps, whose pow is the C library's own: every lane holds the same element.
    double operator()(double A_Acrit) const
    {
        const auto scalar = [this](Lanes x) { return Lanes{} + area(x[0]); };
        Lanes result[1];
        solve(scalar, {lanes_of(A_Acrit)}, result);
        return result[0][0];
    }

    // Four and four: on AMD EPYC (Zen 4), AVX2 kernels, 1.12-1.18 times faster than two
    // vectors opening and settling together as a block, 1.0-1.1 with two and three.
    static constexpr int preparing_vectors = 4;
    static constexpr int settling_vectors = 4;

    // A run of targets. Their Newton steps, whose counts differ little, are taken
    // `preparing_vectors` vectors at a time, side by side; the bisections they open are
    // settled in `settling_vectors` vectors whose lanes each take the next opened bisection
    // as soon as their own has settled (refill.hpp), since the counts of bisection passes
    // differ much. A run too short to fill the vectors is solved as a whole.
    void run(const double* in, double* out, std::size_t count) const
    {
        if (count == 0) {
            return;
        }
        if (count == 1) {
            run_alone(in, out);
            return;
        }
        if (count <= 2 * static_cast<std::size_t>(lane_count)) {
            count <= static_cast<std::size_t>(lane_count) ? run_whole<1>(in, out, count)
                                                          : run_whole<2>(in, out, count);
            return;
        }
        AreaRatioFeed<Ma_from_A_Acrit, preparing_vectors, settling_vectors> feed(*this, in, out,
                                                                                 count);
        iterate_refilling_lanes<settling_vectors>(feed);
    }

    // One target alone, in every lane: its passes are evaluated ahead, a few at a time, in
    // the lanes it leaves free.
    void run_alone(const double* in, double* out) const
    {
        const Lanes t[1] = {lanes_of(in[0])};
        AreaRatioSettling search[1];
        Mask searched[1];
        open(area, t, search, searched);
        settle_area_ratio_alone(area, search[0]);
        out[0] = settled_result(t[0], searched[0], search[0])[0];
    }

    // Whole vectors of targets (the last padded with copies of the last target), solved side
    // by side from opening to settling.
    template <int vectors>
    void run_whole(const double* in, double* out, std::size_t count) const
    {
        Lanes t[vectors];
        Lanes result[vectors];
        for (int j = 0; j < vectors; ++j) {
            t[j] = padded_load(in, std::size_t(j) * lane_count, count);
        }
        solve(area, t, result);
        for (int j = 0; j < vectors; ++j) {
            for (int lane = 0; lane < lane_count; ++lane) {
                const std::size_t element = j * lane_count + lane;
                if (element < count) {
                    out[element] = result[j][lane];
                }
            }
        }
    }

    // The vector of targets from `first`, padded past `count` with copies of the last.
    static Lanes padded_load(const double* in, std::size_t first, std::size_t count)
    {
        Lanes t{};
        for (int lane = 0; lane < lane_count; ++lane) {
            t[lane] = in[std::min(first + lane, count - 1)];
        }
        return t;
    }

    // The inverse of `count` vectors of targets side by side, with `relation` evaluating the
    // forward relation: the relation itself, or, in the tests, a wrapper that counts.
    template <class Area, int count>
    void solve(const Area& relation, const Lanes (&t)[count], Lanes (&result)[count]) const
    {
        AreaRatioSettling search[count];
        Mask searched[count];
        open(relation, t, search, searched);
        settle_area_ratio(relation, search);
        for (int j = 0; j < count; ++j) {
            result[j] = settled_result(t[j], searched[j], search[j]);
        }
    }

    // The bisections of `count` vectors of targets, opened and walked to their first
    // evaluation, in the lanes `searched`: the others need none (t = 1, a NaN target or ga).
    template <class Area, int count>
    void open(const Area& relation, const Lanes (&t)[count], AreaRatioSettling (&search)[count],
              Mask (&searched)[count]) const
    {
        const double inf = std::numeric_limits<double>::infinity();
        Mask predicted[count];
        bool any_predicted = false;
        for (int j = 0; j < count; ++j) {
            searched[j] = (t[j] != 1) & ~isnan(t[j]) & (ga_is_nan ? Mask{} : every_lane());
            predicted[j] = searched[j] & area_ratio_target_predictable(t[j]) &
                (predictable ? every_lane() : Mask{});
            any_predicted |= any(predicted[j]);
        }
        AreaRatioWindow window[count];
        if (any_predicted) {
            area_ratio_windows(relation, predictor, t, sup, predicted, window);
        } else {
            for (AreaRatioWindow& open : window) {
                open = {Lanes{} - inf, Lanes{} + inf};
            }
        }
        for (int j = 0; j < count; ++j) {
            // Below 1 - 4E no value of the relation reaches the target
            // (area_ratio_window.hpp): every midpoint above 1 moves the upper bound, every
            // one below it the lower.
            const Mask unreachable = searched[j] & (t[j] < predictor.unreachable_below) &
                (predictable ? every_lane() : Mask{});
            window[j].a = select(unreachable, Lanes{} + (sup ? -inf : 1.0), window[j].a);
            window[j].b = select(unreachable, Lanes{} + (sup ? 1.0 : inf), window[j].b);
            // Subsonic, only a reciprocal that overflows meets t = +inf: above 2^-1022 the
            // reciprocal is below 2^1022 and the power at most about 1, so every midpoint
            // there moves the upper bound.
            const Mask overflowing = (t[j] == inf) & (predictable && !sup ? every_lane() : Mask{});
            window[j].b = select(overflowing, Lanes{} + 0x1p-1022, window[j].b);
            search[j] = AreaRatioSettling(open_area_ratio_bisection(window[j], sup), window[j],
                                          t[j], sup, searched[j]);
            search[j].walk();
        }
    }

    // The result of each lane once its bisection, if it has one, has settled.
    static Lanes settled_result(Lanes t, Mask searched, const AreaRatioSettling& search)
    {
        return select(t == 1, Lanes{} + 1.0, select(searched, search.result(), Lanes{} + rejected));
    }
};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
