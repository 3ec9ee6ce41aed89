// Mach number ahead of a normal shock, from the state behind it, by the general Newton
// solver. The residuals evaluate the forward relations themselves, so that a Mach number
// and its forward value go through the same roundings; the slopes are written out.
// Within the physical range both return the supersonic root, 1 or more up to the solver's
// tolerance.
#pragma once

#include "isa.hpp"
#include "newton.hpp"
#include "newton_run.hpp"
#include "normal_shock.hpp"
#include "rejected.hpp"

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// Mach number ahead of the shock from the Mach number behind it, solved from 0.5.
// Mash(M) falls on M > sqrt(k/ga) and is its own inverse there, so a target in
// (sqrt(k/ga), 1] has one root, Mash(t) >= 1, and from 0.5, below every root, the iterates
// rise steadily to it. t > 1 (+inf included) gives NaN without iterating; t below
// sqrt(k/ga) (0, negatives, -inf), NaN, and every target when ga >= 2 (0.5 then lies at
// or below the pole) give NaN. t = 1 converges to 1 within the last bits.
// The step tolerance 1e-6 leaves up to a few 1e-11 relative.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band):
// 3e-12 (60000x) within 0.05 of Ma = 1, 8e-05 (8x) above Ma = 20, 2.5e-12 (40000x) elsewhere.
// Inside the domain, for 1.01 <= ga <= 3: no NaN for roots below 1500 to 3800, depending on ga; the
// README's "NaN inside the domain" has them per band of ga.
struct Ma_from_Mash {
    Mash_from_Ma forward;
    double k;
    double ga;
    double scaled_square;  // (ga + 1)^2; the slope multiplies it by M, then by minus_root_half

    explicit Ma_from_Mash(double ga_)
        : forward(ga_), k((ga_ - 1) * 0.5), ga(ga_), scaled_square((ga_ + 1) * (ga_ + 1))
    {
    }

    template <class Real>
    Real slope(Real M) const
    {
        // dMash/dM = -M (ga + 1)^2/(4 (ga M^2 - k)^(3/2) sqrt(1 + k M^2)), with
        // 2 (ga M^2 - k) formed as (2 M^2 - 1) ga + 1 and its root cubed.
        const Real square = M * M;
        const Real N = k * square + 1;
        const Real S = sqrt(((square + square) - 1) * ga + 1);
        const Real A = (scaled_square * M) * minus_root_half;
        return (1 / ((S * S) * S)) * ((1 / sqrt(N)) * A);
    }

    template <class Real>
    auto settings(const Real& t) const
    {
        return NewtonSettings{[this, &t](Real M) { return forward(M) - t; },
                              [this](Real M) { return slope(M); }};
    }

    double operator()(double Mash) const
    {
        const double t = Mash;
        // Ordered: a NaN target passes and fails in the solve.
        if (t > 1) {
            return rejected;
        }
        return solve_newton(settings(t), start).value_or_nan();
    }

    using newton_form = GeneralNewtonForm;
    // Three vectors in flight, each waiting for its slowest lane (9.0 iterations on average,
    // 9.9 for the slowest of four): 1.55-1.6 times the speed of one vector; 1.15 with lanes
    // taking new elements, 1.45 with two vectors. AMD EPYC (Zen 4), AVX2 kernels. Its three
    // roots and four divisions per iteration then keep the divider busy: 1.69 at most, and
    // interleaving the vectors' steps gains nothing (0.95 with four lanes, 0.98 with eight).
    static constexpr int vectors_in_flight = 3;
    static constexpr NewtonRefill refill = NewtonRefill::whole_vector;
    static constexpr bool steps_interleaved = false;
    static constexpr double start = 0.5;
    // Ordered: a NaN target passes and fails in the solve.
    static Mask admits(Lanes t) { return ~(t > 1); }

    static constexpr double minus_root_half = -0.7071067811865476;
};

// Mach number ahead of the shock from the stagnation pressure ratio across it, solved
// from 1.5. Posh_Po(M) falls from 1 at M = 1 towards 0, so a target in (0, 1) has one
// root above 1. t = 1 sits on a triple root and stops within about 1e-5 of 1. t <= 0,
// +-inf, NaN, targets too small to reach within the cap (1e-300) and every target when
// ga = 1 give NaN. Targets above 1 are not rejected: the solve may settle on a Mach
// number below 1, of either sign, at which the relation takes that value.
// The step tolerance 1e-6 leaves a few 1e-12; next to Ma = 1, a triple root, convergence
// is linear and stops up to a few 1e-5 short.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band):
// 4 (6e+06x) within 0.05 of Ma = 1, 1.5e-13 (250000x) above Ma = 20, 4e-11 (400000x) elsewhere.
// Inside the domain, for 1.01 <= ga <= 3: no NaN for roots below 18 to 5.9e8, depending on ga; NaN
// is the rule beyond 19.2 to 6.94e28; the README's "NaN inside the domain" has them per band of ga.
struct Ma_from_Posh_Po {
    Posh_Po_from_Ma forward;
    double k;
    double ga;
    double ga_plus_one;
    double X_exponent;  // 1/(ga - 1)
    double Y_exponent;  // -ga/(ga - 1)

    explicit Ma_from_Posh_Po(double ga_)
        : forward(ga_),
          k((ga_ - 1) * 0.5),
          ga(ga_),
          ga_plus_one(ga_ + 1),
          X_exponent(1 / (ga_ - 1)),
          Y_exponent((-ga_) / (ga_ - 1))
    {
    }

    template <class Real>
    Real slope(Real M) const
    {
        // dPosh_Po/dM = -ga M (M^2 - 1)^2/Q^2 X^(1/(ga - 1)) Y^(-ga/(ga - 1)), with
        // Q = 1 + k M^2, X = (ga + 1) M^2/(2 Q) and Y the static pressure ratio.
        const Real square = M * M;
        const Real excess = square - 1;
        const Real Q = k * square + 1;
        const Real P = (((-excess) * excess) * (M * ga)) / (Q * Q);
        const Real X = pow(((square * ga_plus_one) / Q) * 0.5, X_exponent);
        const Real Y =
            pow(square * forward.pressure_coefficient - forward.ratio_offset, Y_exponent);
        return (P * X) * Y;
    }

    template <class Real>
    auto settings(const Real& t) const
    {
        return NewtonSettings{[this, &t](Real M) { return forward(M) - t; },
                              [this](Real M) { return slope(M); }};
    }

    double operator()(double Posh_Po) const
    {
        return solve_newton(settings(Posh_Po), start).value_or_nan();
    }

    using newton_form = GeneralNewtonForm;
    // Three vectors in flight, a lane taking a new element as its solve ends: 1.3-1.4 times
    // the speed of one vector waiting for its slowest lane; 1.25-1.3 with three waiting. AMD
    // EPYC (Zen 4), AVX2. Their steps interleaved: a step is four powers and four divisions,
    // some seven hundred instructions, and the vectors' chains issued one after the other
    // overlapped little: 1.25 times faster with four lanes, 1.36 with eight (10^6 targets);
    // two or four vectors interleaved are slower than three.
    static constexpr int vectors_in_flight = 3;
    static constexpr NewtonRefill refill = NewtonRefill::each_lane;
    static constexpr bool steps_interleaved = true;
    static constexpr double start = 1.5;
};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
