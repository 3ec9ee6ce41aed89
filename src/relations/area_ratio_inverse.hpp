// Mach number from the area ratio A/A*, by bisection on one side of the sonic point.
//
// The forward relation takes every value above 1 twice, once on [0, 1] and once above 1;
// `sup` chooses the bracket. Only an exact match stops the search before its bracket
// stops moving, so the result is the point where the bisection settles, with no tolerance.
#pragma once

#include "flow_functions.hpp"
#include "rejected.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ventaroxi::relations {

inline constexpr std::uint32_t area_ratio_passes = 10000;

struct AreaRatioBracket {
    double lo;
    double hi;
};

// Supersonic: [1, largest double]; subsonic: [0, 1]. The first midpoint of each is
// (lo + hi)*0.5, like every later one.
inline AreaRatioBracket area_ratio_bracket(bool sup)
{
    return sup ? AreaRatioBracket{1, std::numeric_limits<double>::max()} : AreaRatioBracket{0, 1};
}

inline bool same_bits(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Bisects for `t` with `area` the forward relation, for at most area_ratio_passes passes.
//
// A pass is a function of the bracket alone: its midpoint, the value there and the
// comparison all follow from (lo, hi). So once a pass leaves both bounds as they were,
// bit for bit, every later pass repeats it, and the midpoint in hand is exactly what
// running every pass would return. That holds whatever stalls the search: bounds closed
// to adjacent doubles, whose midpoint rounds onto one of them, or a value that does not
// compare with the target (NaN), which moves neither bound. An element then costs at most
// about 1080 evaluations on either bracket instead of 10000.
template <class Area>
double search_area_ratio(const Area& area, double t, bool sup)
{
    AreaRatioBracket bracket = area_ratio_bracket(sup);
    double x = (bracket.lo + bracket.hi) * 0.5;
    for (std::uint32_t pass = 0; pass < area_ratio_passes; ++pass) {
        const double v = area(x);
        if (t == v) {
            return x;
        }
        const AreaRatioBracket before = bracket;
        // Supersonic values rise with the Mach number, subsonic ones fall.
        if (t > v) {
            (sup ? bracket.lo : bracket.hi) = x;
        } else if (t < v) {
            (sup ? bracket.hi : bracket.lo) = x;
        }
        x = (bracket.lo + bracket.hi) * 0.5;
        if (same_bits(bracket.lo, before.lo) && same_bits(bracket.hi, before.hi)) {
            break;
        }
    }
    return x;
}

// Mach number from A/A* on the branch that `sup` chooses.
// t = 1 gives exactly 1 at once; every t below 1 (0, negatives, -inf included) has no
// root and ends on the sonic edge of the bracket, exactly 1; t = +inf gives the first
// supersonic midpoint (8.988465674311579e307) or, subsonic, the first point whose
// reciprocal overflows (2^-1024). A NaN target, or a NaN ga, gives NaN: every value of
// the relation then fails to compare and the search would report its first midpoint, a
// Mach number for a missing input. For ga > 1 no other target gives NaN.
// Accuracy: the point where the bisection settles; forward and back agree to 1e-12
// relative or better, the worst next to M = 1, where the relation is flat.
struct Ma_from_A_Acrit {
    A_Acrit_from_Ma area;
    bool sup;
    bool ga_is_nan;

    Ma_from_A_Acrit(double ga, bool sup_) : area(ga), sup(sup_), ga_is_nan(std::isnan(ga)) {}

    double operator()(double A_Acrit) const
    {
        if (A_Acrit == 1) {
            return 1.0;
        }
        if (std::isnan(A_Acrit) || ga_is_nan) {
            return rejected;
        }
        return search_area_ratio(area, A_Acrit, sup);
    }
};

}  // namespace ventaroxi::relations
