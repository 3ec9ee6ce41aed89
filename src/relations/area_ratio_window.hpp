// Where the area-ratio bisection needs to evaluate: a predicted root and a window around it
// outside which the comparison of each midpoint with the target is certain.
//
// The bound. With the per-call doubles k, h, e taken as exact constants, let A(x) =
// (1/x)((x*x*k + 1)/h)^e be the exact function and Â(x) the relation as computed. Each of
// x*x, *k, +1 and /h rounds once, so the base is within 4 half-ulps (u = 2^-53) of its exact
// value; the power multiplies that relative error by e, the platform pow adds its own,
// assumed at most 8 ulps (16u; glibc's and musl's are below 1 ulp), and the reciprocal and
// the last product add u each. So wherever nothing overflows
//     |Â(x)/A(x) - 1| <= E = (4.25 e + 20) u,
// and where something does overflow Â(x) is +inf, above every finite target. The C++ unit
// test measures the error of the relation and of pow against long double over the domain.
//
// The window. In y = ln x, g(y) = ln A(x) is convex: g'(y) = 2e*s - 1 with s = k x^2/(1 +
// k x^2) rising with x, and g'' = 4e s(1 - s) <= e. One evaluation v = Â(x0) at the last
// Newton iterate x0 places every other point: the tangent at x0 bounds g from below on
// both sides; toward the sonic point the slope is at least |g'(x0)| - e|y - y0|; and
// between the window and x = 1 convexity keeps g below the larger of its two end values,
// of which g(0) = ln A(1) <= e u (k + 1 and h differ only by the rounding of ga + 1). So
// with W = 2.02 E + |ln(t/v)|, beyond |y - y0| = W/|g'| on the far side and W/(|g'| -
// 2eW/|g'|) on the sonic side (kept where that is at most 2W/|g'|) the computed value is
// on one side of t for certain, and strictly: no midpoint
// outside the window can be an exact hit. A window that these conditions do not give
// (a slope too flat, a prediction too far off, a value that is not finite) is left open
// on that side, and the search evaluates there as the bisection is written.
#pragma once

#include "area_ratio_search.hpp"
#include "flow_functions.hpp"
#include "power.hpp"

#include <cmath>
#include <limits>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

inline constexpr double half_ulp = 0x1p-53;

// The bound E on the relative rounding error of the computed relation, for exponent e.
inline double area_ratio_rounding_bound(double e) { return (4.25 * e + 20) * half_ulp; }

// The values of ga for which windows are formed: the bound above holds (ga - 1 exact,
// e u small) and the Newton start below converges within a few steps.
inline bool area_ratio_predictable(double ga) { return ga >= 1 + 0x1p-20 && ga <= 4; }

// The targets that are predicted: finite and above 1 (the sonic side of the window needs
// t >= 1 + 4E; below that only the far side is formed). A root beyond the double range,
// or one whose value overflows, gives no window.
inline Mask area_ratio_target_predictable(Lanes t)
{
    return (t > 1) & (t <= std::numeric_limits<double>::max());
}

// The per-call constants of the prediction, from the relation's own k, h, e.
struct AreaRatioPredictor {
    double k;
    double h;
    double e;
    double bound;        // E
    double sonic_floor;  // 1 + 4E: targets from which the sonic side is formed
    // 1 - 4E: targets below every computed value. The exact function's least value is at
    // least ln A(1) - O(u^2) >= -1.01 e u below 1, so Â(x) >= (1 - 1.01 e u)(1 - E) > 1 - 2E.
    double unreachable_below;
    double supersonic_log;  // e ln(h/k), the offset of the asymptote x^(2e-1) (k/h)^e
    double subsonic_log;    // -e ln h, the offset of the asymptote (1/x) h^-e
    double subsonic_scale;  // h^-e
    double cubic;           // g'''(0)/6 = 2(h - 2k)/(3h^2): g(y) = y^2/h + cubic y^3 + ...

    explicit AreaRatioPredictor(const A_Acrit_from_Ma& area)
        : k(area.k),
          h(area.h),
          e(area.e),
          bound(area_ratio_rounding_bound(area.e)),
          sonic_floor(1 + 4 * bound),
          unreachable_below(1 - 4 * bound),
          supersonic_log(area.e * log_of(Lanes{} + area.h / area.k)[0]),
          subsonic_log(-area.e * log_of(Lanes{} + area.h)[0]),
          subsonic_scale(exp_of(Lanes{} + subsonic_log)[0]),
          cubic(2 * (area.h - 2 * area.k) / (3 * area.h * area.h))
    {
    }

    // g(y) = ln A(e^y) = e ln((1 + k e^(2y))/h) - y, to about 1e-9.
    Lanes g(Lanes y) const { return e * log_of((1 + k * exp_of(2 * y)) / h) - y; }

    // The series here are summed in pairs of terms (Estrin's order), not one term after the
    // other: the prediction is a chain of them, each waiting for the last, and pairing halves
    // the chain. Their rounding is free, since they only predict.

    // ln t to about 1e-9 relative, for t positive: the exponent's bits, then the series of
    // atanh((m - 1)/(m + 1)) for the mantissa m, taken into [sqrt(1/2), sqrt(2)).
    static Lanes log_of(Lanes t)
    {
        const BitLanes bits = __builtin_bit_cast(BitLanes, t);
        const Lanes mantissa =
            __builtin_bit_cast(Lanes, (bits & 0x000fffffffffffff) | 0x3ff0000000000000);
        const Mask high = mantissa > 1.4142135623730951;
        const Lanes m = select(high, mantissa * 0.5, mantissa);
        const Lanes exponent = integer_to_double(
            __builtin_bit_cast(IntegerLanes, (bits >> 52) & 0x7ff) - 1023 + one_where(high));
        const Lanes z = (m - 1) / (m + 1);
        const Lanes z2 = z * z;
        const Lanes z4 = z2 * z2;
        const Lanes series =
            (1 + z2 * (1.0 / 3)) + z4 * ((1.0 / 5 + z2 * (1.0 / 7)) + z4 * (1.0 / 9));
        return exponent * 0.6931471805599453 + 2 * z * series;
    }

    // e^y to about 1e-9 relative, for |y| < 700: 2^n e^f with |f| <= ln(2)/2.
    static Lanes exp_of(Lanes y)
    {
        constexpr double shift = 0x1.8p52;
        y = select(y > 700, Lanes{} + 700.0, select(y < -700, Lanes{} - 700.0, y));
        const Lanes shifted = y * 1.4426950408889634 + shift;
        const Lanes n = shifted - shift;
        const Lanes f = y - n * 0.6931471805599453;
        const Lanes f2 = f * f;
        const Lanes f4 = f2 * f2;
        const Lanes low = (1 + f) + f2 * (0.5 + f * (1.0 / 6));
        const Lanes high = (1.0 / 24 + f * (1.0 / 120)) + f2 * (1.0 / 720 + f * (1.0 / 5040));
        const Lanes series = low + f4 * (high + f4 * (1.0 / 40320));
        const IntegerLanes k = __builtin_bit_cast(IntegerLanes, shifted) -
            __builtin_bit_cast(IntegerLanes, Lanes{} + shift);
        return series * area_ratio_detail::power_of_two(k);
    }

    // ln(1 + r) and e^d for |r|, |d| < 1/32, to about 1e-11: their series to the sixth power.
    static Lanes log1p_near(Lanes r)
    {
        const Lanes r2 = r * r;
        return r * ((1 - 0.5 * r) + r2 * ((1.0 / 3 - 0.25 * r) + r2 * (0.2 - r * (1.0 / 6))));
    }

    static Lanes exp_near(Lanes d)
    {
        const Lanes d2 = d * d;
        return ((1 + d) + d2 * (0.5 + d * (1.0 / 6))) +
            (d2 * d2) * ((1.0 / 24 + d * (1.0 / 120)) + d2 * (1.0 / 720));
    }

    // Exact for the integers of an exponent: added into the mantissa of 1.5*2^52.
    static Lanes integer_to_double(IntegerLanes k)
    {
        constexpr double shift = 0x1.8p52;
        return __builtin_bit_cast(Lanes, __builtin_bit_cast(IntegerLanes, Lanes{} + shift) + k) -
            shift;
    }
};

// Newton-Halley steps on g(y) = ln t for the lanes of one vector, from the asymptote
// (large t) or from the quadratic g ~ y^2/h about the sonic point (t near 1). Each step
// costs one evaluation; the last evaluation is the one the window is proved from.
struct AreaRatioNewton {
    Lanes target;
    Mask active;
    Lanes x;
    Lanes v;
    Lanes excess;    // t/v - 1
    Lanes distance;  // |t/v - 1|
    Mask done;

    AreaRatioNewton() = default;
    AreaRatioNewton(const AreaRatioPredictor& p, Lanes t, bool sup, Mask active_)
        : target(select(active_, t, Lanes{} + 2.0)), active(active_)
    {
        const Lanes log_t = AreaRatioPredictor::log_of(target);
        // Two starts, and the one nearer in g taken (a start only saves steps): about the
        // sonic point, where g(y) = y^2/h + c y^3 + ..., one Newton step on that cubic from
        // the root of its square term; far from it, the asymptote corrected once by the term
        // it neglects, e ln(1 + 1/(k x^2)) supersonic, e ln(1 + k x^2) subsonic.
        const Lanes root = sqrt(log_t * p.h);
        const Lanes y2 = sup ? root : -root;
        const Lanes sonic = y2 -
            (y2 * y2 / p.h + p.cubic * (y2 * y2 * y2) - log_t) /
                (2 * y2 / p.h + 3 * p.cubic * (y2 * y2));
        const Lanes asymptote =
            sup ? (log_t + p.supersonic_log) / (2 * p.e - 1) : p.subsonic_log - log_t;
        const Lanes far = sup ? asymptote -
                p.e *
                    AreaRatioPredictor::log_of(1 +
                                               AreaRatioPredictor::exp_of(-2 * asymptote) / p.k) /
                    (2 * p.e - 1)
                              : asymptote +
                p.e *
                    AreaRatioPredictor::log_of(1 + p.k * AreaRatioPredictor::exp_of(2 * asymptote));
        const Lanes off_sonic = fabs(p.g(sonic) - log_t);
        const Lanes off_far = fabs(p.g(far) - log_t);
        const Lanes y0 = select((off_sonic < off_far) | isnan(off_far), sonic, far);
        x = AreaRatioPredictor::exp_of(y0);
        // Subsonic, deep in the asymptote, x = h^-e/t stays exact into the subnormal range.
        x = sup ? x : select((off_sonic < off_far) | (log_t < 700), x, p.subsonic_scale / target);
    }

    // Takes v, the value at x, and returns whether a lane still steps.
    bool measured(const AreaRatioPredictor& p, Lanes value)
    {
        v = value;
        excess = target / v - 1;
        distance = fabs(excess);
        done = ~active | (distance <= 2 * p.bound) | isnan(distance);
        return any(~done);
    }

    // One Newton-Halley step. Where every lane is within 1/32 of its target (every step but
    // the first, as a rule), the logarithm and the exponential are taken by their series,
    // exact to about 1e-11 there: the steps only predict, so their rounding is free, and the
    // window is proved from the evaluation at the point they reach.
    void step(const AreaRatioPredictor& p, bool sup)
    {
        const bool near = !any(~done & (distance >= 1.0 / 32));
        const Lanes r = excess;
        const Lanes log_ratio = near
            ? AreaRatioPredictor::log1p_near(r)
            : AreaRatioPredictor::log_of(select(done, Lanes{} + 2.0, target / v));
        const Lanes stagnation = x * x * p.k;
        const Lanes s = stagnation / (1 + stagnation);
        const Lanes slope = 2 * p.e * s - 1;
        const Lanes curvature = 4 * p.e * s * (1 - s);
        const Lanes twice_slope = slope + slope;
        Lanes dy = (twice_slope * log_ratio) / (twice_slope * slope + log_ratio * curvature);
        dy = select(dy > 4, Lanes{} + 4.0, select(dy < -4, Lanes{} - 4.0, dy));
        dy = select(isnan(dy) | done, Lanes{}, dy);
        const Lanes growth = near && !any(fabs(dy) >= 1.0 / 32) ? AreaRatioPredictor::exp_near(dy)
                                                                : AreaRatioPredictor::exp_of(dy);
        const Lanes next = x * growth;
        // Each branch keeps to its side of the sonic point.
        const Lanes kept =
            sup ? select(next < 1, (x + 1) * 0.5, next) : select(next > 1, (x + 1) * 0.5, next);
        x = select(done, x, kept);
    }

    // The window proved from v = Â(x) (see the head of this file); lanes that are not
    // active, or that it cannot be proved for, get (-inf, +inf) on the side concerned.
    AreaRatioWindow window(const AreaRatioPredictor& p, Lanes t, bool sup) const
    {
        const double inf = std::numeric_limits<double>::infinity();
        const double u = half_ulp;
        const Lanes log_gap = distance * (1 + 2 * distance) + 2 * u;  // >= |ln(t/v)|
        const Lanes W = 2.02 * p.bound + log_gap;
        const Lanes stagnation = x * x * p.k;
        const Lanes s = stagnation / (1 + stagnation);
        const Lanes slope = 2 * p.e * s - 1;
        const Lanes flat = fabs(slope) - (16 * p.e + 2) * u;  // <= |g'(x)|
        const Mask formed = active & (distance <= 0.25) & (flat > 0) &
            (sup ? slope > 0 : slope < 0) & (v > 0) & (v < inf) & (x > 0) & (x < 1e300);
        const Lanes far = W / flat * (1 + 8 * u);
        // Toward the sonic point the slope falls by at most e per unit of y: over a width up
        // to 2*far it stays above flat - 2e*far, which (when at least flat/2) needs no more.
        const Lanes sonic_slope = flat - 2 * p.e * far * (1 + 8 * u);
        const Lanes sonic = W / sonic_slope * (1 + 8 * u);
        const Mask far_formed = formed & (far <= 0.25);
        const Mask sonic_formed =
            far_formed & (sonic_slope >= 0.5 * flat) & (sonic <= 0.25) & (t >= p.sonic_floor);
        const Lanes up_far = x * (1 + far + far * far) * (1 + 8 * u);
        const Lanes down_far = x * (1 - far) * (1 - 8 * u);
        const Lanes up_sonic = x * (1 + sonic + sonic * sonic) * (1 + 8 * u);
        const Lanes down_sonic = x * (1 - sonic) * (1 - 8 * u);
        const Lanes open_low = Lanes{} - inf;
        const Lanes open_high = Lanes{} + inf;
        if (sup) {
            return {select(sonic_formed, down_sonic, open_low),
                    select(far_formed, up_far, open_high)};
        }
        return {select(far_formed, down_far, open_low), select(sonic_formed, up_sonic, open_high)};
    }
};

// The windows of `count` vectors of lanes, their Newton steps taken side by side: each step
// waits for its evaluation, and the evaluations of different vectors do not wait for each
// other.
template <class Area, int count>
void area_ratio_windows(const Area& area, const AreaRatioPredictor& p, const Lanes (&t)[count],
                        bool sup, const Mask (&active)[count], AreaRatioWindow (&windows)[count])
{
    AreaRatioNewton newton[count];
    for (int j = 0; j < count; ++j) {
        newton[j] = AreaRatioNewton(p, t[j], sup, active[j]);
    }
    for (int step = 0;; ++step) {
        Lanes values[count];
        for (int j = 0; j < count; ++j) {
            values[j] = area(newton[j].x);
        }
        bool stepping = false;
        for (int j = 0; j < count; ++j) {
            stepping |= newton[j].measured(p, values[j]);
        }
        if (step == 9 || !stepping) {
            break;
        }
        for (int j = 0; j < count; ++j) {
            newton[j].step(p, sup);
        }
    }
    for (int j = 0; j < count; ++j) {
        windows[j] = newton[j].window(p, t[j], sup);
    }
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
