#include "../relations/power_candidate.hpp"
#include "../relations/processor_features.hpp"
#include "kernel_preferences.hpp"
#include "kernels.hpp"

#include <array>
#include <cmath>
#include <string_view>

#define VENTAROXI_DECLARE_POWER(name, features)                                                    \
    namespace ventaroxi::relations::name {                                                         \
    extern const PowerCandidate power_candidate;                                                   \
    }
VENTAROXI_OFFERED_KERNEL_SETS(VENTAROXI_DECLARE_POWER)
#undef VENTAROXI_DECLARE_POWER

namespace ventaroxi {
namespace {

struct KernelSet {
    std::string_view name;
    const Evaluators* evaluators;
    const relations::PowerCandidate* power;
    std::string_view features;
};

#define VENTAROXI_OFFER(name, features)                                                            \
    KernelSet{#name, &ventaroxi::name::evaluators, &ventaroxi::relations::name::power_candidate,   \
              features},
constexpr KernelSet offered[] = {VENTAROXI_OFFERED_KERNEL_SETS(VENTAROXI_OFFER)};
#undef VENTAROXI_OFFER

consteval bool features_are_known()
{
    for (const KernelSet& set : offered) {
        if (!known_features(set.features)) {
            return false;
        }
    }
    return true;
}
static_assert(features_are_known(),
              "src/kernel_sets.txt names a feature that "
              "relations/processor_features.hpp cannot ask about");

// A preference may name a set of another architecture, which this build does not offer and
// whose preferences it never consults; but never a set that no row of the table has, nor
// the last offered set, which serves every function.
consteval bool preferences_are_known()
{
    constexpr std::string_view every_set[] = {VENTAROXI_KERNEL_SET_NAMES};
    for (const KernelPreference& preference : kernel_preferences) {
        bool set_exists = false;
        for (std::string_view name : every_set) {
            set_exists = set_exists || name == preference.set;
        }
        bool function_exists = false;
        for (const FunctionSpec& spec : function_table) {
            function_exists =
                function_exists || preference.function == spec.signature.function_name;
        }
        if (!set_exists || !function_exists || preference.set == std::end(offered)[-1].name) {
            return false;
        }
    }
    return true;
}
static_assert(preferences_are_known(),
              "kernel_preferences.hpp names functions of function_table and sets of "
              "src/kernel_sets.txt other than the last offered, which serves every function");

// The platform's pow, called one pair at a time through a pointer, in this process.
double platform_pow(double base, double exponent) { return std::pow(base, exponent); }

// Each function's kernel from the first offered set that the processor runs, whose power
// gives the bits of the platform's pow and which serves the function; from the fallback set
// where none does.
Evaluators choose_evaluators()
{
    std::array<const KernelSet*, std::size(offered)> agreeing{};
    std::size_t count = 0;
    for (const KernelSet& set : offered) {
        if (processor_has(set.features) &&
            relations::first_agreeing(std::span(set.power, 1), &platform_pow) == 0) {
            agreeing[count++] = &set;
        }
    }
    Evaluators chosen = ventaroxi::VENTAROXI_FALLBACK_KERNEL_SET::evaluators;
    for (std::size_t row = 0; row < function_count; ++row) {
        for (std::size_t i = 0; i < count; ++i) {
            if (serves(agreeing[i]->name, row)) {
                chosen[row] = (*agreeing[i]->evaluators)[row];
                break;
            }
        }
    }
    return chosen;
}

}  // namespace

const Evaluators& active_evaluators() noexcept
{
    // Chosen on the first call, before any kernel runs, and kept: neither the processor nor
    // the C library's choice of pow changes under a running process. The choice runs no
    // Python code and releases nothing.
    static const Evaluators chosen = choose_evaluators();
    return chosen;
}

}  // namespace ventaroxi
