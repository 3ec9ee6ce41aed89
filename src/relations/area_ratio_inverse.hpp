// Mach number from the area ratio A/A*, by bisection on one side of the sonic point.
#pragma once

#include "area_ratio_search.hpp"
#include "area_ratio_window.hpp"
#include "flow_functions.hpp"
#include "rejected.hpp"

#include <cmath>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// Mach number from A/A* on the branch that `sup` chooses.
// t = 1 gives exactly 1 at once; every t below 1 (0, negatives, -inf included) has no
// root and ends on the sonic edge of the bracket, exactly 1; t = +inf gives the first
// supersonic midpoint (8.988465674311579e307) or, subsonic, the first point whose
// reciprocal overflows (2^-1024). A NaN target, or a NaN ga, gives NaN: every value of
// the relation then fails to compare and the search would report its first midpoint, a
// Mach number for a missing input. For ga > 1 no other target gives NaN.
// Accuracy: the point where the bisection settles; forward and back agree to 1e-12
// relative or better, the worst next to M = 1, where the relation is flat.
// Cost: for 1 + 2^-20 <= ga <= 4 and 1 < t <= 1e300 a few Newton evaluations predict the
// root, and the bisection evaluates only at the midpoints of the window proved around it
// (area_ratio_window.hpp), about a dozen evaluations in all; every other element is
// bisected with an evaluation at every midpoint, up to about 1080 of them, except targets
// below 1 - 4E, which no value reaches and which walk to the sonic edge unevaluated.
struct Ma_from_A_Acrit {
    A_Acrit_from_Ma area;
    bool sup;
    bool ga_is_nan;
    bool predictable;
    AreaRatioPredictor predictor;

    Ma_from_A_Acrit(double ga, bool sup_)
        : area(ga), sup(sup_), ga_is_nan(std::isnan(ga)), predictable(area_ratio_predictable(ga)),
          predictor(area)
    {
    }

    Lanes operator()(Lanes t) const { return solve(area, t); }

    // One element takes the path of the lanes, in every lane: the same bits, the same cost.
    double operator()(double A_Acrit) const { return (*this)(Lanes{} + A_Acrit)[0]; }

    // The inverse with `relation` evaluating the forward relation: the relation itself, or,
    // in the tests, a wrapper that counts its evaluations.
    template <class Area>
    Lanes solve(const Area& relation, Lanes t) const
    {
        const Mask sonic = t == 1;
        const Mask searched = ~sonic & ~isnan(t) & (ga_is_nan ? Mask{} : every_lane());
        if (!any(searched)) {
            return select(sonic, Lanes{} + 1.0, Lanes{} + rejected);
        }
        const Mask predicted =
            searched & area_ratio_target_predictable(t) & (predictable ? every_lane() : Mask{});
        const double inf = std::numeric_limits<double>::infinity();
        AreaRatioWindow window = any(predicted)
            ? area_ratio_window(relation, predictor, t, sup, predicted)
            : AreaRatioWindow{Lanes{} - inf, Lanes{} + inf};
        // Below 1 - 4E no value of the relation can reach the target (area_ratio_window.hpp):
        // every midpoint above 1 moves the upper bound, every one below it the lower.
        const Mask unreachable =
            searched & (t < predictor.unreachable_below) & (predictable ? every_lane() : Mask{});
        window.a = select(unreachable, Lanes{} + (sup ? -inf : 1.0), window.a);
        window.b = select(unreachable, Lanes{} + (sup ? 1.0 : inf), window.b);
        const Lanes found = settle_area_ratio(relation, open_area_ratio_bisection(window, sup), window,
                                              t, sup, searched);
        return select(sonic, Lanes{} + 1.0, select(searched, found, Lanes{} + rejected));
    }
};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
