// Every relation of the library, once, in the order of the module's function table (the
// kernels, the lanes test, the scalar reference and the kernel benchmark all take it from
// here), and the one way to build a relation from a call's `ga` and `sup`.
#pragma once

#include "area_ratio_inverse.hpp"
#include "flow_functions.hpp"
#include "flow_inverses.hpp"
#include "isentropic.hpp"
#include "isentropic_inverses.hpp"
#include "normal_shock.hpp"
#include "shock_inverses.hpp"

#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>

// clang-format off: one relation per line, as the list reads best
#define VENTAROXI_RELATIONS(X) \
    X(To_T_from_Ma), \
    X(Po_P_from_Ma), \
    X(rhoo_rho_from_Ma), \
    X(V_cpTo_from_Ma), \
    X(mcpTo_APo_from_Ma), \
    X(mcpTo_AP_from_Ma), \
    X(A_Acrit_from_Ma), \
    X(Mash_from_Ma), \
    X(Posh_Po_from_Ma), \
    X(Ma_from_Po_P), \
    X(Ma_from_To_T), \
    X(Ma_from_rhoo_rho), \
    X(Ma_from_V_cpTo), \
    X(Ma_from_F_mcpTo), \
    X(Ma_from_mcpTo_APo), \
    X(Ma_from_mcpTo_AP), \
    X(Ma_from_A_Acrit), \
    X(Ma_from_Mash), \
    X(Ma_from_Posh_Po)
// clang-format on

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

// A relation whose constructor takes `sup` as well as `ga`.
template <class Relation>
inline constexpr bool takes_sup = std::is_constructible_v<Relation, double, bool>;

// The relation of one call, its per-call constants formed from `ga` (and `sup`, where it
// takes one; the others ignore it).
template <class Relation>
Relation make_relation(double ga, bool sup)
{
    if constexpr (takes_sup<Relation>) {
        return Relation(ga, sup);
    } else {
        static_cast<void>(sup);
        return Relation(ga);
    }
}

template <class... Relation>
struct RelationList {
    static constexpr std::size_t size = sizeof...(Relation);

    // One row per relation, in the list's order: make.template operator()<Relation>().
    template <class Row, class Make>
    static constexpr std::array<Row, size> rows(Make make)
    {
        return {make.template operator()<Relation>()...};
    }

    // visit.template operator()<Relation>(name) for each relation, in the list's order.
    template <class Visit>
    static void for_each(Visit&& visit);
};

#define VENTAROXI_RELATION_TYPE(Relation) Relation
#define VENTAROXI_RELATION_NAME(Relation) std::string_view(#Relation)
using Relations = RelationList<VENTAROXI_RELATIONS(VENTAROXI_RELATION_TYPE)>;
inline constexpr std::array<std::string_view, Relations::size> relation_names = {
    VENTAROXI_RELATIONS(VENTAROXI_RELATION_NAME)};
#undef VENTAROXI_RELATION_TYPE
#undef VENTAROXI_RELATION_NAME

template <class... Relation>
template <class Visit>
void RelationList<Relation...>::for_each(Visit&& visit)
{
    std::size_t row = 0;
    (visit.template operator()<Relation>(relation_names[row++]), ...);
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
