// The relations of the function table, compiled for one instruction set: this file is
// built once per set, with VENTAROXI_ISA naming it (see relations/isa.hpp). It is the only
// module source that includes the relations.
#include "kernels.hpp"

#include "../relations/area_ratio_inverse.hpp"
#include "../relations/flow_functions.hpp"
#include "../relations/flow_inverses.hpp"
#include "../relations/isentropic.hpp"
#include "../relations/isentropic_inverses.hpp"
#include "../relations/normal_shock.hpp"
#include "../relations/shock_inverses.hpp"
#include "evaluate.hpp"

#include <string_view>
#include <type_traits>

namespace ventaroxi {
inline namespace VENTAROXI_ISA {
namespace {

using namespace relations;

// The relation of a function carries the function's name, which ties each row below to
// its row of function_table.
struct KernelRow {
    std::string_view function_name;
    Evaluate evaluate;
    bool takes_sup;  // the relation is constructed from (ga, sup), not from ga alone
};

// clang-format off: a row per function, as the column reads best
#define VENTAROXI_KERNEL(Relation) \
    KernelRow{#Relation, &evaluate<Relation>, std::is_constructible_v<Relation, double, bool>}

constexpr auto kernel_rows = std::to_array<KernelRow>({
    VENTAROXI_KERNEL(To_T_from_Ma),
    VENTAROXI_KERNEL(Po_P_from_Ma),
    VENTAROXI_KERNEL(rhoo_rho_from_Ma),
    VENTAROXI_KERNEL(V_cpTo_from_Ma),
    VENTAROXI_KERNEL(mcpTo_APo_from_Ma),
    VENTAROXI_KERNEL(mcpTo_AP_from_Ma),
    VENTAROXI_KERNEL(A_Acrit_from_Ma),
    VENTAROXI_KERNEL(Mash_from_Ma),
    VENTAROXI_KERNEL(Posh_Po_from_Ma),
    VENTAROXI_KERNEL(Ma_from_Po_P),
    VENTAROXI_KERNEL(Ma_from_To_T),
    VENTAROXI_KERNEL(Ma_from_rhoo_rho),
    VENTAROXI_KERNEL(Ma_from_V_cpTo),
    VENTAROXI_KERNEL(Ma_from_F_mcpTo),
    VENTAROXI_KERNEL(Ma_from_mcpTo_APo),
    VENTAROXI_KERNEL(Ma_from_mcpTo_AP),
    VENTAROXI_KERNEL(Ma_from_A_Acrit),
    VENTAROXI_KERNEL(Ma_from_Mash),
    VENTAROXI_KERNEL(Ma_from_Posh_Po),
});
// clang-format on

#undef VENTAROXI_KERNEL

consteval bool follows_function_table()
{
    if (kernel_rows.size() != function_count) {
        return false;
    }
    for (std::size_t row = 0; row < function_count; ++row) {
        const FunctionSpec& spec = function_table[row];
        if (kernel_rows[row].function_name != spec.signature.function_name ||
            kernel_rows[row].takes_sup != (spec.sup != SupRule::absent)) {
            return false;
        }
    }
    return true;
}

static_assert(follows_function_table(),
              "one relation per function, in the order of function_table, each under its "
              "function's name, taking sup exactly where the function does");

// Evaluated by the compiler: the file holds no code of its own beyond the relations.
consteval Evaluators collect_evaluators()
{
    Evaluators collected{};
    for (std::size_t row = 0; row < function_count; ++row) {
        collected[row] = kernel_rows[row].evaluate;
    }
    return collected;
}

}  // namespace

constinit const Evaluators evaluators = collect_evaluators();

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi
