// State behind a stationary normal shock in a perfect gas, from the Mach number ahead.
//
// A shock exists only for Ma >= 1, but neither relation tests its input: a subsonic Mach
// number gives the value of the same expressions. Both depend on Ma only through Ma*Ma,
// so they are even in Ma.
#pragma once

#include "power.hpp"

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// Mach number behind the shock: sqrt((1 + k Ma^2)/(ga Ma^2 - k)), k = (ga - 1)/2.
// Ma^2 < k/ga (|Ma| below about 0.378 for ga = 1.4) gives NaN; |Ma| = inf and Ma^2
// overflowing give NaN (inf/inf) although the values tend to sqrt(k/ga). No library call;
// below Ma = 1 the denominator cancels towards the pole at sqrt(k/ga).
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band), Ma >= 1:
// 5 ulp within 0.05 of Ma = 1, 4 ulp above Ma = 20, 4 ulp elsewhere; below Ma = 1: 3 ulp within
// 0.05 of Ma = 1, 6 ulp elsewhere.
struct Mash_from_Ma {
    double k;
    double ga;

    explicit Mash_from_Ma(double ga_) : k((ga_ - 1) * 0.5), ga(ga_) {}

    template <class Real>
    Real operator()(Real Ma) const
    {
        const Real square = Ma * Ma;
        const Real numerator = k * square + 1;
        const Real denominator = square * ga - k;
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
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band), Ma >= 1:
// 500 ulp within 0.05 of Ma = 1, 1000 ulp above Ma = 20, 800 ulp elsewhere; below Ma = 1: 500 ulp
// within 0.05 of Ma = 1, 600 ulp elsewhere.
struct Posh_Po_from_Ma {
    // u = pressure_coefficient Ma^2 - ratio_offset, v = density_coefficient/Ma^2 + ratio_offset.
    double pressure_coefficient;  // 2 ga/(ga + 1)
    double ratio_offset;          // (ga - 1)/(ga + 1)
    double density_coefficient;   // 2/(ga + 1)
    double density_exponent;      // ga/(ga - 1), the power of v
    double pressure_exponent;     // 1/(ga - 1), the power of u

    explicit Posh_Po_from_Ma(double ga)
        : pressure_coefficient((ga + ga) / (ga + 1)),
          ratio_offset((ga - 1) / (ga + 1)),
          density_coefficient(2 / (ga + 1)),
          density_exponent(ga / (ga - 1)),
          pressure_exponent(1 / (ga - 1))
    {
    }

    template <class Real>
    Real operator()(Real Ma) const
    {
        const Real square = Ma * Ma;
        const Real pressure_ratio = pressure_coefficient * square - ratio_offset;
        const Real density_ratio = density_coefficient / square + ratio_offset;
        const Real product =
            pow(pressure_ratio, pressure_exponent) * pow(density_ratio, density_exponent);
        return 1 / product;
    }
};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
