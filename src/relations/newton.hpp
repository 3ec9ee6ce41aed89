// Newton iteration for the inverse relations, in two forms that differ in what they test:
//
// - solve_newton, the general solver, stops on the computed step r(x)/s(x) and accepts a
//   step equal to the tolerance;
// - newton_fixed_loop stops on the change actually made to the stored iterate and accepts
//   it only strictly below the tolerance.
//
// Both run at most newton_cap iterations from a fixed start, apply no bound or clamp to
// the iterates, and never raise: a NaN anywhere ends the iteration as a failure.
//
// Two forms, not one with a switch, because each fixes its relations' results to the last
// bit: the fixed loop lets the mass-flow inverses form residual and slope from shared
// intermediates (one pow or one root per step), and its test on the stored change can differ by a
// rounding from a test on the computed step, which moves the accept-or-fail decision of
// an element that stops next to the tolerance.
#pragma once

#include "isa.hpp"
#include "rejected.hpp"

#include <cmath>
#include <cstdint>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

inline constexpr double newton_tolerance = 1e-6;
inline constexpr std::uint32_t newton_cap = 100;

// The residual r(x) = f(x) - t and its slope, both functions of the iterate alone; they
// are light bindings (lambdas holding references to a relation and its target) so that a
// solve costs no more than the loop written out.
template <class Residual, class Slope>
struct NewtonSettings {
    Residual residual;
    Slope slope;
};

enum class NewtonFailure : unsigned char {
    none,
    iteration_limit,  // every permitted iteration ran and the last step was still too large
    not_a_number,     // the final iterate is NaN
};

struct NewtonOutcome {
    double root;  // meaningful only when failure is none
    NewtonFailure failure;
    std::uint32_t iterations;

    bool found() const { return failure == NewtonFailure::none; }
    // Callers do not tell the causes apart: every failure is the element's NaN.
    double value_or_nan() const { return found() ? root : rejected; }
};

template <class Residual, class Slope>
NewtonOutcome solve_newton(const NewtonSettings<Residual, Slope>& settings, double start)
{
    double x = start;
    double step = 0;
    std::uint32_t k = 0;
    do {
        ++k;
        step = settings.residual(x) / settings.slope(x);
        x = x - step;
        // Ordered: a NaN step is not above the tolerance and ends the loop.
    } while (std::fabs(step) > newton_tolerance && k < newton_cap);
    if (std::fabs(step) > newton_tolerance) {
        return {x, NewtonFailure::iteration_limit, k};
    }
    if (std::isnan(x)) {
        return {x, NewtonFailure::not_a_number, k};
    }
    // No test for an infinite root is needed: reaching one takes an infinite step, which
    // the tolerance test has refused, and the residual at one is NaN.
    return {x, NewtonFailure::none, k};
}

// `step(x)` is the Newton step r(x)/s(x), computed by the relation with whatever
// intermediates its residual and slope share. The loop runs at most newton_cap times and
// the result is the last iterate if its change was strictly below the tolerance, NaN
// otherwise: a change of exactly the tolerance ends the loop and fails.
template <class Step>
double newton_fixed_loop(const Step& step, double start)
{
    double x = start;
    double next = 0;
    double change = 0;
    for (std::uint32_t n = 0;; ++n) {
        next = x - step(x);
        change = std::fabs(next - x);
        // Ordered: a NaN change ends the loop.
        if (!(change > newton_tolerance && n < newton_cap - 1)) {
            break;
        }
        x = next;
    }
    return change < newton_tolerance ? next : rejected;
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
