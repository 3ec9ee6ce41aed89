#include "function_table.hpp"

#include "../relations/isentropic.hpp"
#include "../relations/isentropic_inverses.hpp"
#include "evaluate.hpp"

namespace ventaroxi {

using namespace relations;

const std::array<FunctionSpec, function_count> function_table = {{
    {{"To_T_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "To_T_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::exactly_one, SupRule::absent, &evaluate<To_T_from_Ma>},
    {{"Po_P_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "Po_P_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::exactly_one, SupRule::absent, &evaluate<Po_P_from_Ma>},
    {{"rhoo_rho_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "rhoo_rho_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<rhoo_rho_from_Ma>},
    {{"V_cpTo_from_Ma", {"Ma", "ga"}, 2, 0, 2}, "V_cpTo_from_Ma(Ma, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<V_cpTo_from_Ma>},
    {{"Ma_from_Po_P", {"Po_P", "ga"}, 2, 0, 2}, "Ma_from_Po_P(Po_P, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_Po_P>},
    {{"Ma_from_To_T", {"To_T", "ga"}, 2, 0, 2}, "Ma_from_To_T(To_T, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_To_T>},
    {{"Ma_from_rhoo_rho", {"rhoo_rho", "ga"}, 2, 0, 2}, "Ma_from_rhoo_rho(rhoo_rho, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_rhoo_rho>},
    {{"Ma_from_V_cpTo", {"V_cpTo", "ga"}, 2, 0, 2}, "Ma_from_V_cpTo(V_cpTo, ga)\n--\n\n",
     ArrayRank::any, SupRule::absent, &evaluate<Ma_from_V_cpTo>},
}};

}  // namespace ventaroxi
