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
// near 1e308 overflow to +inf. Exact to the last bit of the steps below.
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

// Ma = sqrt(2/(ga - 1) ((Po/P)^((ga - 1)/ga) - 1)), through (P/Po)^((1 - ga)/ga).
// Po/P >= 1 gives a real Ma; 0 <= Po/P < 1 and negatives give NaN; +inf and -inf give
// +inf (pow(-0, e < 0) = +inf); ga = 1 gives NaN everywhere. Accuracy: that of pow.
struct Ma_from_Po_P {
    double reciprocal_k;
    double e;

    explicit Ma_from_Po_P(double ga) : reciprocal_k(2 / (ga - 1)), e((1 - ga) / ga) {}

    template <class Real>
    Real operator()(Real Po_P) const
    {
        const Real static_ratio = 1 / Po_P;
        const Real stagnation_power = pow(static_ratio, e);
        return sqrt((stagnation_power - 1) * reciprocal_k);
    }
};

// Ma = sqrt(2/(ga - 1) ((rho_o/rho)^(ga - 1) - 1)), through (rho/rho_o)^(1 - ga).
// Same domain, special values and accuracy as Ma_from_Po_P.
struct Ma_from_rhoo_rho {
    double reciprocal_k;
    double e;

    explicit Ma_from_rhoo_rho(double ga) : reciprocal_k(2 / (ga - 1)), e(1 - ga) {}

    template <class Real>
    Real operator()(Real rhoo_rho) const
    {
        const Real static_ratio = 1 / rhoo_rho;
        const Real stagnation_power = pow(static_ratio, e);
        return sqrt((stagnation_power - 1) * reciprocal_k);
    }
};

// Ma = sqrt(V^2/((ga - 1)(1 - V^2/2))), V = V/sqrt(cp To); even in V.
// 0 <= |V| < sqrt(2) gives a real Ma (the double nearest sqrt(2) already squares past 2
// and gives NaN); |V| = inf gives NaN. Exact to the last bit of the steps below.
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
