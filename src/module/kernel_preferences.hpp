// Which functions take a kernel set that serves only some: a wider set is not faster for
// every relation on every processor (all its lanes wait for the slowest, and where iteration
// counts vary, wider vectors idle longer), so such a set serves the functions listed for it,
// and every other function takes the next offered set that the processor runs and whose
// power agrees with the platform's pow. A set not named here serves every function.
// dispatch.cpp checks the names against function_table and the offered sets.
#pragma once

#include "signatures.hpp"

#include <string_view>

namespace ventaroxi {

struct KernelPreference {
    std::string_view set;
    std::string_view function;
};

// Measured with `python bench/harness.py --compare avx2 avx512 7`: each function's time per
// element on the avx2 kernels over that on the avx512 kernels, the same inputs, each round
// the two harnesses one after the other; below, the median of three runs of those rounds'
// medians, on AMD EPYC (Zen 4, AVX-512 F/DQ/BW/VL; 512-bit operations issued as two 256-bit
// halves), two cores shared with other work (load average 11 to 15). A function takes
// avx512 where that figure is at least 1.05 (on every branch). Two do not: To_T_from_Ma,
// 1.04; and Ma_from_A_Acrit, 1.04 (sub) and 1.17 (sup) on the benchmark's realistic targets
// but 0.77 and 0.69 on its targets with the edge cases (infinite, huge and tiny, 13 of 300,
// whose searches take a thousand passes while the other lanes of their vector wait).
inline constexpr KernelPreference kernel_preferences[] = {
    {"avx512", "Po_P_from_Ma"},       // 1.10
    {"avx512", "rhoo_rho_from_Ma"},   // 1.13
    {"avx512", "V_cpTo_from_Ma"},     // 1.07
    {"avx512", "mcpTo_APo_from_Ma"},  // 1.23
    {"avx512", "mcpTo_AP_from_Ma"},   // 1.10
    {"avx512", "A_Acrit_from_Ma"},    // 1.25
    {"avx512", "Mash_from_Ma"},       // 1.10
    {"avx512", "Posh_Po_from_Ma"},    // 1.15
    {"avx512", "Ma_from_Po_P"},       // 1.24
    {"avx512", "Ma_from_To_T"},       // 1.09
    {"avx512", "Ma_from_rhoo_rho"},   // 1.18
    {"avx512", "Ma_from_V_cpTo"},     // 1.12
    {"avx512", "Ma_from_F_mcpTo"},    // sub 1.33, sup 1.63
    {"avx512", "Ma_from_mcpTo_APo"},  // sub 1.18, sup 1.33
    {"avx512", "Ma_from_mcpTo_AP"},   // 1.09
    {"avx512", "Ma_from_Mash"},       // 1.28
    {"avx512", "Ma_from_Posh_Po"},    // 1.21
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
