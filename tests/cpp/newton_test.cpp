// Stop and acceptance rules of the two Newton forms, on residuals built so that every
// step is an exact, chosen double.
#include "newton.hpp"

#include <cmath>
#include <cstdio>
#include <limits>

using namespace ventaroxi::relations;

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++failures;
    }
}

// r(x) = 2 (x - root) with slope 2: from 0 the first step is exactly -root (doubling and
// halving are exact), so the root is reached in one step of the chosen size.
struct LinearResidual {
    double root;
    int* calls;
    double operator()(double x) const
    {
        ++*calls;
        return 2 * (x - root);
    }
};

// A staircase: unit steps down from 0 until the iterate reaches -99, where the step is
// `last`. The step size first falls to `last` on the 100th iteration.
struct Staircase {
    double last;
    int* calls;
    double operator()(double x) const
    {
        ++*calls;
        return x > -98.5 ? 1.0 : last;
    }
};

double unit_slope(double) { return 1; }
double double_slope(double) { return 2; }

void step_of_exactly_the_tolerance()
{
    int calls = 0;
    const LinearResidual residual{-1e-6, &calls};
    const NewtonOutcome general = solve_newton(NewtonSettings{residual, double_slope}, 0.0);
    check(general.found() && general.root == -1e-6 && general.iterations == 1,
          "general solver accepts a step of exactly 1e-6");

    calls = 0;
    const double fixed = newton_fixed_loop([&](double x) { return residual(x) / 2; }, 0.0);
    check(std::isnan(fixed) && calls == 1,
          "fixed-loop form ends on a change of exactly 1e-6 with NaN");

    const double below = std::nextafter(1e-6, 0.0);
    const LinearResidual smaller{-below, &calls};
    const double fixed_below = newton_fixed_loop([&](double x) { return smaller(x) / 2; }, 0.0);
    check(fixed_below == -below, "fixed-loop form accepts a change just below 1e-6");
}

void convergence_on_the_last_iteration()
{
    int calls = 0;
    const Staircase late{5e-7, &calls};
    const NewtonOutcome general = solve_newton(NewtonSettings{late, unit_slope}, 0.0);
    check(general.found() && general.iterations == 100 && general.root == -99 - 5e-7 &&
              calls == 100,
          "general solver accepts convergence first reached on the 100th iteration");

    calls = 0;
    const Staircase never{2e-6, &calls};
    const NewtonOutcome limit = solve_newton(NewtonSettings{never, unit_slope}, 0.0);
    check(!limit.found() && limit.failure == NewtonFailure::iteration_limit &&
              limit.iterations == 100 && calls == 100 && std::isnan(limit.value_or_nan()),
          "general solver fails with the iteration limit after exactly 100 iterations");

    calls = 0;
    const double fixed = newton_fixed_loop(late, 0.0);
    check(fixed == -99 - 5e-7 && calls == 100,
          "fixed-loop form accepts a small change on its 100th pass");

    calls = 0;
    const double fixed_never = newton_fixed_loop(never, 0.0);
    check(std::isnan(fixed_never) && calls == 100, "fixed-loop form gives NaN after 100 passes");
}

void not_a_number()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    int calls = 0;
    const auto residual = [&](double x) {
        ++calls;
        return x * x - nan;
    };
    const auto slope = [](double x) { return x + x; };
    const NewtonOutcome general = solve_newton(NewtonSettings{residual, slope}, 0.5);
    check(general.failure == NewtonFailure::not_a_number && general.iterations == 1 && calls == 1,
          "general solver fails on a NaN target after one iteration");

    calls = 0;
    const double fixed = newton_fixed_loop([&](double x) { return residual(x) / slope(x); }, 0.5);
    check(std::isnan(fixed) && calls == 1,
          "fixed-loop form gives NaN for a NaN target after one pass");

    // A zero slope throws the iterate to infinity; the residual there is NaN, so the solve
    // fails one iteration later instead of reporting an infinite root.
    const auto parabola = [](double x) { return x * x - 2; };
    const NewtonOutcome flat = solve_newton(NewtonSettings{parabola, slope}, 0.0);
    check(flat.failure == NewtonFailure::not_a_number && flat.iterations == 2,
          "a zero slope fails on the iteration after the infinite step");
}

void ordinary_root()
{
    const auto parabola = [](double x) { return x * x - 2; };
    const auto slope = [](double x) { return x + x; };
    const NewtonOutcome general = solve_newton(NewtonSettings{parabola, slope}, 1.5);
    check(general.found() && std::fabs(general.root - std::sqrt(2.0)) < 1e-15 &&
              general.iterations < 6,
          "general solver finds sqrt(2) quadratically");
    const double fixed = newton_fixed_loop([&](double x) { return parabola(x) / slope(x); }, 1.5);
    check(std::fabs(fixed - std::sqrt(2.0)) < 1e-15, "fixed-loop form finds sqrt(2)");
}

}  // namespace

int main()
{
    step_of_exactly_the_tolerance();
    convergence_on_the_last_iteration();
    not_a_number();
    ordinary_root();
    if (failures != 0) {
        std::printf("%d check(s) failed\n", failures);
        return 1;
    }
    std::printf("newton: all checks passed\n");
    return 0;
}
