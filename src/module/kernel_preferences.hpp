// Which functions take a kernel set that serves only some: a wider set is not faster for
// every relation on every processor (all its lanes wait for the slowest, and where iteration
// counts vary, wider vectors idle longer), so such a set serves the functions listed for it,
// and every other function takes the next offered set that the processor runs and whose
// power agrees with the platform's pow. A set not named here serves every function.
// dispatch.cpp checks the names against function_table and the sets of src/kernel_sets.txt.
#pragma once

#include "signatures.hpp"

#include <string_view>

namespace ventaroxi {

struct KernelPreference {
    std::string_view set;
    std::string_view function;
};

// Measured with `python bench/harness.py --compare avx2 avx512 N`: each function's time per
// element on the avx2 kernels over that on the avx512 kernels, the same inputs, each round
// the two harnesses one after the other; below, the medians of two runs (5 and 7 rounds),
// on AMD EPYC (Zen 4, AVX-512 F/DQ/BW/VL; 512-bit operations issued as two 256-bit halves),
// two cores, with the Newton inverses keeping several vectors in flight. A function takes
// avx512 where the mean of the two runs is at least 1.05 on every branch (one run alone
// moves by up to 0.2 on a shared machine). Three do not:
// To_T_from_Ma, 1.00 and 1.03; Ma_from_F_mcpTo, whose subsonic solve gave 1.04 and 1.03;
// and Ma_from_A_Acrit, 1.21 to 1.28 on the benchmark's realistic targets but 0.68 to 0.90
// on its targets with the edge cases (infinite, huge and tiny, 13 of 300, whose searches
// take a thousand passes while the other lanes of their vector wait).
inline constexpr KernelPreference kernel_preferences[] = {
    {"avx512", "Po_P_from_Ma"},       // 1.10, 1.21
    {"avx512", "rhoo_rho_from_Ma"},   // 1.13, 1.25
    {"avx512", "V_cpTo_from_Ma"},     // 1.09, 1.09
    {"avx512", "mcpTo_APo_from_Ma"},  // 1.01, 1.20
    {"avx512", "mcpTo_AP_from_Ma"},   // 1.07, 1.08
    {"avx512", "A_Acrit_from_Ma"},    // 1.12, 1.21
    {"avx512", "Mash_from_Ma"},       // 1.08, 1.09
    {"avx512", "Posh_Po_from_Ma"},    // 1.05, 1.11
    {"avx512", "Ma_from_Po_P"},       // 1.15, 1.12
    {"avx512", "Ma_from_To_T"},       // 1.07, 1.07
    {"avx512", "Ma_from_rhoo_rho"},   // 1.09, 1.21
    {"avx512", "Ma_from_V_cpTo"},     // 1.08, 1.09
    {"avx512", "Ma_from_mcpTo_APo"},  // sub 1.09, 1.19; sup 1.14, 1.17
    {"avx512", "Ma_from_mcpTo_AP"},   // 1.28, 1.29
    {"avx512", "Ma_from_Mash"},       // 1.11, 1.12
    {"avx512", "Ma_from_Posh_Po"},    // 1.23, 1.09
};

// Whether `set` serves the function of `row`.
constexpr bool serves(std::string_view set, std::size_t row)
{
    bool named = false;
    for (const KernelPreference& preference : kernel_preferences) {
        if (preference.set == set) {
            named = true;
            if (preference.function == function_table[row].signature.function_name) {
                return true;
            }
        }
    }
    return !named;
}

}  // namespace ventaroxi
