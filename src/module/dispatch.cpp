#include "../relations/power_candidate.hpp"
#include "kernels.hpp"

#include <array>
#include <cmath>

#if defined(VENTAROXI_AVX2_KERNELS)
namespace ventaroxi::relations::avx2 {
extern const PowerCandidate power_candidate;
}
#endif

namespace ventaroxi {
namespace {

struct KernelSet {
    const Evaluators* evaluators;
    const relations::PowerCandidate* power;
};

// The platform's pow, called one pair at a time through a pointer, in this process.
double platform_pow(double base, double exponent) { return std::pow(base, exponent); }

// The widest kernel set that the processor runs and whose power gives the bits of the
// platform's pow; the per_element set when none does. The processor test also covers the
// operating system's saving of the wide registers.
const Evaluators& choose_evaluators()
{
    std::array<KernelSet, 2> sets{};
    std::size_t runnable = 0;
#if defined(VENTAROXI_AVX2_KERNELS)
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        sets[runnable++] = {&ventaroxi::avx2::evaluators,
                            &ventaroxi::relations::avx2::power_candidate};
    }
#endif
    sets[runnable++] = {&ventaroxi::baseline::evaluators,
                        &ventaroxi::relations::baseline::power_candidate};
    std::array<relations::PowerCandidate, sets.size()> candidates{};
    for (std::size_t i = 0; i < runnable; ++i) {
        candidates[i] = *sets[i].power;
    }
    const std::size_t agreeing =
        relations::first_agreeing(std::span(candidates.data(), runnable), &platform_pow);
    return agreeing < runnable ? *sets[agreeing].evaluators : ventaroxi::per_element::evaluators;
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
