// Mach number from the mass-flow functions and the impulse function, by Newton iteration.
//
// The mass-flow function referred to stagnation pressure and the impulse function take
// most values twice, once on each side of Ma = 1; `sup` picks the side through the start
// value (1.5 or 0.5). The mass-flow function referred to static pressure rises steadily
// and has one root. Every constant that depends on ga alone is formed in the constructor.
#pragma once

#include "isa.hpp"
#include "newton.hpp"
#include "newton_run.hpp"
#include "rejected.hpp"

#include "power.hpp"

#include <cmath>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// Mach number from m sqrt(cp To)/(A Po), fixed-loop Newton form from 1.5 or 0.5.
// t above the choking maximum m* (and +inf) gives NaN without iterating; t = m* sits on
// a double root and converges only linearly, to within about 1e-6 of 1 on the side of the
// start. Subsonic: t = 0 gives 0, negative t the negative root. Supersonic: t <= 0 gives
// NaN. -inf and NaN give NaN. The iteration stops on a change below 1e-6; next to Ma = 1,
// a double root, it converges only linearly and stops up to about 1e-6 short.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band), sup
// false: 4e-12 (60000x) for Ma < 0.05, 1.5e-06 (40000x) within 0.05 of Ma = 1, 2.5e-11 (60000x)
// elsewhere; sup true: 1.5e-06 (40000x) within 0.05 of Ma = 1, 1.5e-13 (120000x) above Ma = 20,
// 1.5e-11 (250000x) elsewhere.
// Inside the domain (sup true), for 1.01 <= ga <= 3: no NaN for roots below 18 to 7e8, depending on
// ga; NaN is the rule beyond 18.7 to 5.08e28; the README's "NaN inside the domain" has them per
// band of ga.
struct Ma_from_mcpTo_APo {
    double D;
    double k;
    double h;
    double e;
    double choking_maximum;
    double start;

    Ma_from_mcpTo_APo(double ga, bool sup)
        : D(ga / sqrt(ga - 1)),
          k((ga - 1) * 0.5),
          h((ga + 1) * 0.5),
          // The quotient is rounded before it is halved, where mcpTo_APo_from_Ma halves
          // first: halving is exact on either side of the one rounded division, so both
          // give the same double, and the residual retraces the forward relation's bits.
          e(((ga + 1) / (ga - 1)) * (-0.5)),
          choking_maximum(pow(1 + k, e) * D),
          start(sup ? 1.5 : 0.5)
    {
    }

    // One Newton step at the iterate x, for the target t.
    template <class Real>
    Real newton_step(Real x, Real t) const
    {
        const Real square = x * x;
        const Real base = k * square + 1;
        const Real power = pow(base, e);
        const Real m = (D * x) * power;
        const Real residual = m - t;
        const Real slope = ((1 - (square * h) / base) * m) / x;
        return residual / slope;
    }

    double operator()(double mcpTo_APo) const
    {
        const double t = mcpTo_APo;
        // Ordered: a NaN target is not caught here and fails in the iteration.
        if (t > choking_maximum) {
            return rejected;
        }
        return newton_fixed_loop([this, t](double x) { return newton_step(x, t); }, start);
    }

    using newton_form = FixedLoopNewtonForm;
    // Four vectors in flight, a lane taking a new element as its solve ends (the counts
    // vary much), their steps interleaved: the power's chain then overlaps across vectors.
    // With three vectors one after the other, 1.6-1.8 (sub) and 1.3-1.55 (sup) times the
    // speed of one vector waiting for its slowest lane; 1.4-1.5 with three vectors waiting.
    // Interleaving the three: 1.05 times faster with four lanes, 1.2 with eight; four
    // interleaved instead of three: 1.1 and 1.05-1.1 more. AMD EPYC (Zen 4), 10^6 targets.
    static constexpr int vectors_in_flight = 4;
    static constexpr NewtonRefill refill = NewtonRefill::each_lane;
    static constexpr bool steps_interleaved = true;
    // Ordered: a NaN target is not caught here and fails in the iteration.
    Mask admits(Lanes t) const { return ~(t > choking_maximum); }
};

// Mach number from m sqrt(cp To)/(A P), fixed-loop Newton form from 0.5; odd in t.
// t = 0 gives 0; +-inf, NaN, and targets whose first iterate squares past the largest
// double (such as 1e300) give NaN. The tolerance is absolute, so above M = 2^33, where
// neighbouring doubles lie more than 1e-6 apart, only an exact fixed point succeeds.
// The stop on a change below 1e-6 leaves a few 1e-13 where convergence is slowest.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band):
// 5e-13 (8000x) for Ma < 0.05, 8e-13 (10000x) within 0.05 of Ma = 1, 2.5e-15 (80x) above Ma = 20,
// 2e-12 (40000x) elsewhere.
// Inside the domain, for 1.01 <= ga <= 3: no NaN for roots below 1.9e9; NaN is the rule beyond
// 2.32e28 to 2.46e29; the README's "NaN inside the domain" has them per band of ga.
struct Ma_from_mcpTo_AP {
    double D;
    double k;

    explicit Ma_from_mcpTo_AP(double ga) : D(ga / sqrt(ga - 1)), k((ga - 1) * 0.5) {}

    template <class Real>
    Real newton_step(Real x, Real t) const
    {
        const Real f = (x * x) * k;
        const Real g = f + 1;
        const Real root = sqrt(g);
        const Real m = (D * x) * root;
        const Real residual = m - t;
        const Real slope = (D * (g + f)) / root;
        return residual / slope;
    }

    double operator()(double mcpTo_AP) const
    {
        const double t = mcpTo_AP;
        return newton_fixed_loop([this, t](double x) { return newton_step(x, t); }, start);
    }

    using newton_form = FixedLoopNewtonForm;
    // Three vectors in flight, each waiting for its slowest lane (an iteration is short and
    // the counts vary little): 1.7-1.9 times the speed of one vector; 1.1-1.2 with lanes
    // taking new elements, 1.5-1.6 with two vectors. AMD EPYC (Zen 4), AVX2 kernels. A step
    // is short enough to overlap unaided: interleaved, 1.0 and 0.98 (four, eight lanes).
    static constexpr int vectors_in_flight = 3;
    static constexpr NewtonRefill refill = NewtonRefill::whole_vector;
    static constexpr bool steps_interleaved = false;
    static constexpr double start = 0.5;
};

// Mach number from the impulse function F/(m sqrt(cp To)) = C (1 + ga M^2)/(M sqrt(1 + k M^2)),
// C = sqrt(ga - 1)/ga, general Newton solver from 1.5 or 0.5. The function falls from +inf
// at M = 0 to its minimum at M = 1 and rises towards sqrt(2) above.
// t below the minimum, +-inf and NaN give NaN; t at or above sqrt(2) has no supersonic
// root. t at the minimum converges only linearly, to within about 1e-6 of 1.
// Subsonic, two repairs of the plain solve from 0.5: it diverges for every target above
// about 1.82 (M below about 0.27 at ga = 1.4), and for ga below about 1.2 it can land on the
// supersonic root instead. Either way the solve is repeated from M0 = C/t: F(M) > C/M for
// every M > 0, so M0 lies below the root, where F is convex and falling, and Newton climbs
// to the root monotonically. A root below 1 from 0.5 is kept as it is.
// The step tolerance 1e-6 is absolute, a large relative one at small M; next to the
// minimum, a double root, convergence is linear and stops up to about 1e-6 short.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band), sup
// false: 4e-08 (6e+08x) for Ma < 0.05, 2e-06 (20000x) within 0.05 of Ma = 1, 8e-10 (1e+07x)
// elsewhere; sup true: 2e-06 (15000x) within 0.05 of Ma = 1, 0.0012 (15x) above Ma = 20,
// 2e-11 (12000x) elsewhere.
// Inside the domain (sup true), for 1.01 <= ga <= 3: no NaN for roots below 570 to 2800, depending
// on ga; the README's "NaN inside the domain" has them per band of ga.
struct Ma_from_F_mcpTo {
    double C;
    double k;
    double ga;
    bool sup;

    double start;

    Ma_from_F_mcpTo(double ga_, bool sup_)
        : C(sqrt(ga_ - 1) / ga_), k((ga_ - 1) * 0.5), ga(ga_), sup(sup_), start(sup ? 1.5 : 0.5)
    {
    }

    template <class Real>
    Real residual(Real x, Real t) const
    {
        const Real square = x * x;
        const Real sigma = sqrt(k * square + 1);
        const Real N = C * (ga * square + 1);
        return (N / x) * (1 / sigma) - t;
    }

    template <class Real>
    Real slope(Real x) const
    {
        const Real square = x * x;
        const Real sigma = sqrt(k * square + 1);
        return (C * (square - 1)) / (square * ((sigma * sigma) * sigma));
    }

    template <class Real>
    auto settings(const Real& t) const
    {
        return NewtonSettings{[this, &t](Real x) { return residual(x, t); },
                              [this](Real x) { return slope(x); }};
    }

    double operator()(double F_mcpTo) const
    {
        const double t = F_mcpTo;
        const NewtonOutcome plain = solve_newton(settings(t), start);
        if (sup || (plain.found() && plain.root <= 1)) {
            return plain.value_or_nan();
        }
        // Only a positive target has a subsonic root to climb to; C/t for t <= 0 would
        // start on the negative side and find the mirrored root of a target below the
        // minimum.
        if (!(t > 0)) {
            return rejected;
        }
        return solve_newton(settings(t), C / t).value_or_nan();
    }

    using newton_form = GeneralNewtonForm;
    // Four vectors in flight, each waiting for its slowest lane, second solves started
    // together: 1.8-2.0 (sub) and 1.7-2.1 (sup) times the speed of one vector; 1.5-1.8 and
    // 1.3 with lanes taking new elements, 1.8 with three vectors. AMD EPYC (Zen 4), AVX2.
    // Interleaved steps: 0.97-1.01, no gain.
    static constexpr int vectors_in_flight = 4;
    static constexpr NewtonRefill refill = NewtonRefill::whole_vector;
    static constexpr bool steps_interleaved = false;
    // The steps of operator()(double) after the first solve, in the lanes `ended`.
    NewtonRetry retry(Mask ended, Lanes t, Lanes outcome) const
    {
        if (sup) {
            return {Mask{}, Lanes{}, outcome};
        }
        const Mask retried = ended & ~(outcome <= 1);
        const Mask climbs = retried & (t > 0);
        const Lanes value = select(retried, Lanes{} + rejected, outcome);
        return {climbs, any(climbs) ? C / t : Lanes{}, value};
    }
};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
