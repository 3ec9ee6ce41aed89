// Each relation one element at a time through its scalar steps, with the pow of the process
// that loads this library: the reference for the module's kernels under every choice of
// the C library's pow. Built and loaded (ctypes) by tests/test_platform_pow.py.
#include "area_ratio_inverse.hpp"
#include "flow_functions.hpp"
#include "flow_inverses.hpp"
#include "isentropic.hpp"
#include "isentropic_inverses.hpp"
#include "normal_shock.hpp"
#include "shock_inverses.hpp"

#include <cstddef>
#include <cstring>
#include <type_traits>

using namespace ventaroxi::relations;

namespace {

template <class Relation>
void one_at_a_time(double ga, bool sup, const double* in, double* out, std::size_t count)
{
    const auto relation = [&] {
        if constexpr (std::is_constructible_v<Relation, double, bool>) {
            return Relation(ga, sup);
        } else {
            return Relation(ga);
        }
    }();
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = relation(in[i]);
        asm volatile("" ::: "memory");  // one element after another, never vectorised
    }
}

using Reference = void (*)(double, bool, const double*, double*, std::size_t);

struct Row {
    const char* name;
    Reference reference;
};

#define ROW(name) {#name, &one_at_a_time<name>}
constexpr Row rows[] = {
    ROW(To_T_from_Ma),      ROW(Po_P_from_Ma),     ROW(rhoo_rho_from_Ma),  ROW(V_cpTo_from_Ma),
    ROW(mcpTo_APo_from_Ma), ROW(mcpTo_AP_from_Ma), ROW(A_Acrit_from_Ma),   ROW(Mash_from_Ma),
    ROW(Posh_Po_from_Ma),   ROW(Ma_from_Po_P),     ROW(Ma_from_To_T),      ROW(Ma_from_rhoo_rho),
    ROW(Ma_from_V_cpTo),    ROW(Ma_from_F_mcpTo),  ROW(Ma_from_mcpTo_APo), ROW(Ma_from_mcpTo_AP),
    ROW(Ma_from_A_Acrit),   ROW(Ma_from_Mash),     ROW(Ma_from_Posh_Po),
};
#undef ROW

}  // namespace

// Returns 0, or -1 for a name that is no relation's.
extern "C" int ventaroxi_reference(const char* name, double ga, int sup, const double* in,
                                   double* out, std::size_t count)
{
    for (const Row& row : rows) {
        if (std::strcmp(row.name, name) == 0) {
            row.reference(ga, sup != 0, in, out, count);
            return 0;
        }
    }
    return -1;
}
