// Mach number from the isentropic ratios and velocity, in closed form.
//
// No element is tested: a value without a real Mach number gives NaN through the
// arithmetic itself, mostly as the square root of a negative number. The stagnation
// ratios are first turned into static-to-stagnation ratios, mirroring the forward
// relations, which fixes both the last bits and the special values (0 and -inf).
#pragma once

#include "power.hpp"

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// Ma = sqrt(2 (To/T - 1)/(ga - 1)).
// To/T >= 1 gives a real Ma; below 1 (0, negatives, -inf) NaN; +inf gives +inf; values
// near 1e308 overflow to +inf. No library call.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band):
// 4e-16 (0.012x) for Ma < 0.05, 8e-16 (10x) within 0.05 of Ma = 1, 5e-16 (20x) above Ma = 20,
// 8e-16 (15x) elsewhere.
struct Ma_from_To_T {
    double reciprocal_k;

    explicit Ma_from_To_T(double ga) : reciprocal_k(2 / (ga - 1)) {}

    template <class Real>
    Real operator()(Real To_T) const
    {
        const Real static_ratio = 1 / To_T;
        const Real stagnation_ratio = 1 / static_ratio;
        const Real excess = stagnation_ratio - 1;
        return sqrt(excess * reciprocal_k);
    }
};

// The inverses of the pressure and density ratios differ only in the exponent that turns
// the static-to-stagnation ratio back into q.
struct MachFromStaticRatioPower {
    double reciprocal_k;
    double e;

    MachFromStaticRatioPower(double ga, double exponent) : reciprocal_k(2 / (ga - 1)), e(exponent)
    {
    }

    template <class Real>
    Real operator()(Real stagnation_to_static) const
    {
        const Real static_ratio = 1 / stagnation_to_static;
        const Real stagnation_power = pow(static_ratio, e);
        return sqrt((stagnation_power - 1) * reciprocal_k);
    }
};

// Ma = sqrt(2/(ga - 1) ((Po/P)^((ga - 1)/ga) - 1)), through (P/Po)^((1 - ga)/ga).
// Po/P >= 1 gives a real Ma; 0 <= Po/P < 1 and negatives give NaN; +inf and -inf give
// +inf (pow(-0, e < 0) = +inf); ga = 1 gives NaN everywhere. At small Ma, pow(r, e) - 1
// cancels: the rounding of r and of the power, relative to k Ma^2, is up to 2e-7 at 1e-4.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band):
// 0.025 (250x) for Ma < 0.05, 2.5e-14 (400x) within 0.05 of Ma = 1, 4e-15 (2000x) above Ma = 20,
// 1e-11 (600x) elsewhere.
struct Ma_from_Po_P : MachFromStaticRatioPower {
    explicit Ma_from_Po_P(double ga) : MachFromStaticRatioPower(ga, (1 - ga) / ga) {}
};

// Ma = sqrt(2/(ga - 1) ((rho_o/rho)^(ga - 1) - 1)), through (rho/rho_o)^(1 - ga).
// Same domain and special values as Ma_from_Po_P, and the same cancellation at small Ma.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band):
// 0.025 (200x) for Ma < 0.05, 2.5e-14 (400x) within 0.05 of Ma = 1, 6e-16 (800x) above Ma = 20,
// 1e-11 (500x) elsewhere.
struct Ma_from_rhoo_rho : MachFromStaticRatioPower {
    explicit Ma_from_rhoo_rho(double ga) : MachFromStaticRatioPower(ga, 1 - ga) {}
};

// Ma = sqrt(V^2/((ga - 1)(1 - V^2/2))), V = V/sqrt(cp To); even in V.
// 0 <= |V| < sqrt(2) gives a real Ma (the double nearest sqrt(2) already squares past 2
// and gives NaN); |V| = inf gives NaN. No library call; at large Ma, 1 - V^2/2 cancels,
// as the conditioning of the relation says it must.
// Measured against exact values, worst over 1.01 <= ga <= 3 (the README gives each band):
// 6e-16 (10x) for Ma < 0.05, 8e-16 (10x) within 0.05 of Ma = 1, 5e-05 (1.5x) above Ma = 20,
// 2.5e-14 (10x) elsewhere.
struct Ma_from_V_cpTo {
    double reciprocal_ga_minus_1;

    explicit Ma_from_V_cpTo(double ga) : reciprocal_ga_minus_1(1 / (ga - 1)) {}

    template <class Real>
    Real operator()(Real V_cpTo) const
    {
        const Real square = V_cpTo * V_cpTo;
        const Real numerator = reciprocal_ga_minus_1 * square;
        const Real denominator = square * (-0.5) + 1;
        return sqrt(numerator / denominator);
    }
};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
