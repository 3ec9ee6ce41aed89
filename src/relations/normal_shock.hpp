// State behind a stationary normal shock in a perfect gas, from the Mach number ahead.
//
// A shock exists only for Ma >= 1, but neither relation tests its input: a subsonic Mach
// number gives the value of the same expressions. Both depend on Ma only through Ma*Ma,
// so they are even in Ma.
#pragma once

#include "power.hpp"

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// Mach number behind the shock: sqrt((1 + c Ma^2)/(ga Ma^2 - c)), c = (ga - 1)/2.
// Ma^2 < c/ga (|Ma| below about 0.378 for ga = 1.4) gives NaN; |Ma| = inf and Ma^2
// overflowing give NaN (inf/inf) although the values tend to sqrt(c/ga). No library call;
// below Ma = 1 the denominator cancels towards the pole at sqrt(c/ga).
// Measured against exact values, Ma >= 1: 3 ulp within 0.05 of Ma = 1, 2 ulp above Ma = 20, 2.5 ulp
// elsewhere; below Ma = 1: 2 ulp within 0.05 of Ma = 1, 100 ulp elsewhere.
struct Mash_from_Ma {
    double c;
    double ga;

    explicit Mash_from_Ma(double ga_) : c((ga_ - 1) * 0.5), ga(ga_) {}

    template <class Real>
    Real operator()(Real Ma) const
    {
        const Real square = Ma * Ma;
        const Real numerator = c * square + 1;
        const Real denominator = square * ga - c;
        // One root of the quotient, not a quotient of two roots.
        return sqrt(numerator / denominator);
    }
};

// Stagnation pressure behind the shock over that ahead of it, 1/(u^(1/(ga - 1)) v^(ga/(ga - 1))),
// with u the static pressure ratio across the shock and v the density ratio taken ahead
// over behind.
// Ma^2 < (ga - 1)/(2 ga) makes u negative and gives NaN unless 1/(ga - 1) is an integer;
// |Ma| = inf and Ma^2 overflowing give +0; ga = 1 gives 1 at |Ma| = 1 and NaN elsewhere.
// The roundings of u and v are amplified by the exponents; below Ma = 1, u cancels
// towards 0 at the pole and the error grows without bound there.
// Measured against exact values, Ma >= 1: 60 ulp within 0.05 of Ma = 1, 100 ulp above Ma = 20, 80
// ulp elsewhere; below Ma = 1: 50 ulp within 0.05 of Ma = 1, 8000 ulp elsewhere.
struct Posh_Po_from_Ma {
    double A;
    double B;
    double C;
    double E1;
    double E2;

    explicit Posh_Po_from_Ma(double ga)
        : A((ga + ga) / (ga + 1)),
          B((ga - 1) / (ga + 1)),
          C(2 / (ga + 1)),
          E1(ga / (ga - 1)),
          E2(1 / (ga - 1))
    {
    }

    template <class Real>
    Real operator()(Real Ma) const
    {
        const Real square = Ma * Ma;
        const Real pressure_ratio = A * square - B;
        const Real density_ratio = C / square + B;
        const Real product = pow(pressure_ratio, E2) * pow(density_ratio, E1);
        return 1 / product;
    }
};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
