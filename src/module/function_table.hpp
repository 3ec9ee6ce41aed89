// The module's functions as data: one row per function, in registration order. Module
// creation, `__all__`, argument matching and dispatch are all driven from this table.
#pragma once

#include "../relations/area_ratio_inverse.hpp"
#include "../relations/flow_functions.hpp"
#include "../relations/flow_inverses.hpp"
#include "../relations/isentropic.hpp"
#include "../relations/isentropic_inverses.hpp"
#include "../relations/normal_shock.hpp"
#include "../relations/shock_inverses.hpp"
#include "evaluate.hpp"

#include <array>
#include <cstddef>

namespace ventaroxi {

inline constexpr std::size_t max_parameters = 3;

// What argument matching needs to know of a function.
struct CallSignature {
    const char* function_name;
    std::array<const char*, max_parameters> parameter_names;
    std::size_t parameter_count;
    std::size_t positional_only;  // leading parameters that may not be passed by keyword
    std::size_t required;         // leading parameters that must be supplied
};

// How the optional third parameter, `sup`, reaches the relation.
enum class SupRule : unsigned char {
    absent,          // the function has no `sup`
    none_is_false,   // required; None selects the subsonic branch without conversion
    defaults_false,  // may be omitted (subsonic); None is refused like any non-boolean
};

enum class ArrayRank : unsigned char { exactly_one, any };

// Maps the function's relation over a described float64 array into a new array.
using Evaluate = PyObject* (*)(const ArrayDescription& input, double ga, bool sup);

struct FunctionSpec {
    CallSignature signature;
    const char* docstring;  // a text signature, which is all the function documents
    ArrayRank rank;
    SupRule sup;
    Evaluate evaluate;  // the relation, compiled for this file's instruction set
};

inline constexpr std::size_t function_count = 19;

inline namespace VENTAROXI_ISA {

using namespace relations;

// clang-format off: a row per function, as the table reads best
inline constexpr std::array<FunctionSpec, function_count> function_table = {{
    {{"To_T_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "To_T_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::exactly_one, SupRule::absent, &evaluate<To_T_from_Ma>},
    {{"Po_P_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "Po_P_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::exactly_one, SupRule::absent, &evaluate<Po_P_from_Ma>},
    {{"rhoo_rho_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "rhoo_rho_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<rhoo_rho_from_Ma>},
    {{"V_cpTo_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "V_cpTo_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<V_cpTo_from_Ma>},
    {{"mcpTo_APo_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "mcpTo_APo_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<mcpTo_APo_from_Ma>},
    {{"mcpTo_AP_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "mcpTo_AP_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<mcpTo_AP_from_Ma>},
    {{"A_Acrit_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "A_Acrit_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<A_Acrit_from_Ma>},
    {{"Mash_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "Mash_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Mash_from_Ma>},
    {{"Posh_Po_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "Posh_Po_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Posh_Po_from_Ma>},
    {{"Ma_from_Po_P", {"Po_P", "ga"}, 2, 0, 2}, "Ma_from_Po_P(Po_P, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_Po_P>},
    {{"Ma_from_To_T", {"To_T", "ga"}, 2, 0, 2}, "Ma_from_To_T(To_T, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_To_T>},
    {{"Ma_from_rhoo_rho", {"rhoo_rho", "ga"}, 2, 0, 2}, "Ma_from_rhoo_rho(rhoo_rho, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_rhoo_rho>},
    {{"Ma_from_V_cpTo", {"V_cpTo", "ga"}, 2, 0, 2}, "Ma_from_V_cpTo(V_cpTo, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_V_cpTo>},
    {{"Ma_from_F_mcpTo", {"F_mcpTo", "ga", "sup"}, 3, 0, 3},
     "Ma_from_F_mcpTo(F_mcpTo, ga, sup)\n--\n\n", ArrayRank::any, SupRule::none_is_false,
     &evaluate<Ma_from_F_mcpTo>},
    {{"Ma_from_mcpTo_APo", {"mcpTo_APo", "ga", "sup"}, 3, 3, 2},
     "Ma_from_mcpTo_APo(mcpTo_APo, ga, sup=False, /)\n--\n\n", ArrayRank::any,
     SupRule::defaults_false, &evaluate<Ma_from_mcpTo_APo>},
    {{"Ma_from_mcpTo_AP", {"mcpTo_AP", "ga"}, 2, 0, 2}, "Ma_from_mcpTo_AP(mcpTo_AP, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_mcpTo_AP>},
    {{"Ma_from_A_Acrit", {"A_Acrit", "ga", "sup"}, 3, 0, 3},
     "Ma_from_A_Acrit(A_Acrit, ga, sup)\n--\n\n", ArrayRank::any, SupRule::none_is_false,
     &evaluate<Ma_from_A_Acrit>},
    {{"Ma_from_Mash", {"Mash", "ga"}, 2, 0, 2}, "Ma_from_Mash(Mash, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_Mash>},
    {{"Ma_from_Posh_Po", {"Posh_Po", "ga"}, 2, 0, 2}, "Ma_from_Posh_Po(Posh_Po, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_Posh_Po>},
}};
// clang-format on

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi
