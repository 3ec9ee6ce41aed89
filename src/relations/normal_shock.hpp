// State behind a stationary normal shock in a perfect gas, from the Mach number ahead.
//
// A shock exists only for Ma >= 1, but neither relation tests its input: a subsonic Mach
// number gives the value of the same expressions. Both depend on Ma only through Ma*Ma,
// so they are even in Ma.
#pragma once

#include <cmath>

namespace ventaroxi::relations {

// Mach number behind the shock: sqrt((1 + c Ma^2)/(ga Ma^2 - c)), c = (ga - 1)/2.
// Ma^2 < c/ga (|Ma| below about 0.378 for ga = 1.4) gives NaN; |Ma| = inf and Ma^2
// overflowing give NaN (inf/inf) although the values tend to sqrt(c/ga). Exact to the
// last bit of the steps below (no library call).
struct Mash_from_Ma {
    double c;
    double ga;

    explicit Mash_from_Ma(double ga_) : c((ga_ - 1) * 0.5), ga(ga_) {}

    double operator()(double Ma) const
    {
        const double square = Ma * Ma;
        const double numerator = c * square + 1;
        const double denominator = square * ga - c;
        // One root of the quotient, not a quotient of two roots.
        return std::sqrt(numerator / denominator);
    }
};

// Stagnation pressure behind the shock over that ahead of it, 1/(u^(1/(ga - 1)) v^(ga/(ga - 1))),
// with u the static pressure ratio across the shock and v the density ratio taken ahead
// over behind.
// Ma^2 < (ga - 1)/(2 ga) makes u negative and gives NaN unless 1/(ga - 1) is an integer;
// |Ma| = inf and Ma^2 overflowing give +0; ga = 1 gives 1 at |Ma| = 1 and NaN elsewhere.
// Accuracy: that of pow (twice), then two rounded operations.
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

    double operator()(double Ma) const
    {
        const double square = Ma * Ma;
        const double pressure_ratio = A * square - B;
        const double density_ratio = C / square + B;
        const double product = std::pow(pressure_ratio, E2) * std::pow(density_ratio, E1);
        return 1 / product;
    }
};

}  // namespace ventaroxi::relations
