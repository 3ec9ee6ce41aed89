// Mach number from the area ratio A/A*, by bisection on one side of the sonic point.
#pragma once

#include "area_ratio_search.hpp"
#include "area_ratio_window.hpp"
#include "flow_functions.hpp"
#include "rejected.hpp"

#include <cmath>
#include <cstddef>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

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

    Lanes operator()(Lanes t) const
    {
        Lanes result[1];
        solve(area, {t}, result);
        return result[0];
    }

    // One element takes the path of the lanes, in every lane, but evaluates the relation by
    // its scalar steps, whose pow is the C library's own: every lane holds the same element.
    double operator()(double A_Acrit) const
    {
        const auto scalar = [this](Lanes x) { return Lanes{} + area(x[0]); };
        Lanes result[1];
        solve(scalar, {Lanes{} + A_Acrit}, result);
        return result[0][0];
    }

    // A few vectors at a time, whose evaluations overlap (the run engine prefers this).
    static constexpr int block_vectors = 2;
    static constexpr int block_count = block_vectors * lane_count;
    void operator()(const double* in, double* out) const
    {
        Lanes t[block_vectors];
        Lanes result[block_vectors];
        for (std::ptrdiff_t j = 0; j < block_vectors; ++j) {
            t[j] = load_lanes(in + j * lane_count);
        }
        solve(area, t, result);
        for (std::ptrdiff_t j = 0; j < block_vectors; ++j) {
            store_lanes(out + j * lane_count, result[j]);
        }
    }

    // The inverse of `count` vectors of targets side by side, with `relation` evaluating the
    // forward relation: the relation itself, or, in the tests, a wrapper that counts.
    template <class Area, int count>
    void solve(const Area& relation, const Lanes (&t)[count], Lanes (&result)[count]) const
    {
        const double inf = std::numeric_limits<double>::infinity();
        Mask searched[count];
        Mask predicted[count];
        bool any_searched = false;
        bool any_predicted = false;
        for (int j = 0; j < count; ++j) {
            searched[j] = (t[j] != 1) & ~isnan(t[j]) & (ga_is_nan ? Mask{} : every_lane());
            predicted[j] = searched[j] & area_ratio_target_predictable(t[j]) &
                (predictable ? every_lane() : Mask{});
            any_searched |= any(searched[j]);
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
        AreaRatioSettling search[count];
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
        }
        if (any_searched) {
            settle_area_ratio(relation, search);
        }
        for (int j = 0; j < count; ++j) {
            result[j] = select(t[j] == 1, Lanes{} + 1.0,
                               select(searched[j], search[j].result(), Lanes{} + rejected));
        }
    }
};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
