#include "../relations/power_candidate.hpp"
#include "../relations/processor_features.hpp"
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
    const Evaluators* evaluators;
    const relations::PowerCandidate* power;
    std::string_view features;
};

#define VENTAROXI_OFFER(name, features)                                                            \
    KernelSet{&ventaroxi::name::evaluators, &ventaroxi::relations::name::power_candidate, features},
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

// The platform's pow, called one pair at a time through a pointer, in this process.
double platform_pow(double base, double exponent) { return std::pow(base, exponent); }

const Evaluators& choose_evaluators()
{
    std::array<const KernelSet*, std::size(offered)> runnable{};
    std::array<relations::PowerCandidate, std::size(offered)> candidates{};
    std::size_t count = 0;
    for (const KernelSet& set : offered) {
        if (processor_has(set.features)) {
            runnable[count] = &set;
            candidates[count++] = *set.power;
        }
    }
    const std::size_t agreeing =
        relations::first_agreeing(std::span(candidates.data(), count), &platform_pow);
    return agreeing < count ? *runnable[agreeing]->evaluators
                            : ventaroxi::VENTAROXI_FALLBACK_KERNEL_SET::evaluators;
}

}  // namespace

const Evaluators& active_evaluators() noexcept
{
    // Chosen on the first call, before any kernel runs, and kept: neither the processor nor
    // the C library's choice of pow changes under a running process. The choice runs no
    // Python code and releases nothing.
    static const Evaluators& chosen = choose_evaluators();
    return chosen;
}

}  // namespace ventaroxi
