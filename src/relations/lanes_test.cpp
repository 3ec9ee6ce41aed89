// Every relation evaluated on lanes, as the kernels run it, against the same relation one
// element at a time, bit for bit: over targets spread across each relation's range, its
// edge values and special values, in every lane position and with padded tails.
#include "area_ratio_inverse.hpp"
#include "flow_functions.hpp"
#include "flow_inverses.hpp"
#include "isentropic.hpp"
#include "isentropic_inverses.hpp"
#include "normal_shock.hpp"
#include "run.hpp"
#include "shock_inverses.hpp"
#include "unit_workload.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

using namespace ventaroxi::relations;

namespace {

int failures = 0;

std::vector<double> inputs()
{
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> list = {0.0,
                                -0.0,
                                1.0,
                                -1.0,
                                0.5,
                                2.0,
                                inf,
                                -inf,
                                std::nan(""),
                                1e300,
                                1e-300,
                                5e-324,
                                1.2,
                                0.99999,
                                1.4142135623730951,
                                0.3779,
                                0.378,
                                1.28101525585525,
                                0.989743318610787,
                                1.82,
                                5.939696961966999};
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    const long spread = ventaroxi::unit_workload::scaled(3000, 50);
    for (long i = 0; i < spread; ++i) {
        list.push_back(std::exp(unit(random) * 12 - 6));  // 0.0025 to 400
        list.push_back(unit(random) * 3);
    }
    return list;
}

template <class Relation>
void compare(const char* name, const Relation& relation, const std::vector<double>& x)
{
    std::vector<double> lanes(x.size());
    const ventaroxi::RunKernel kernel = bind_run(relation);
    // Runs of every length up to a few vectors, so every position and every tail is met.
    for (std::size_t start = 0, length = 1; start < x.size();
         start += length, length = length % 11 + 1) {
        const std::size_t count = std::min(length, x.size() - start);
        kernel.apply(kernel.relation, x.data() + start, lanes.data() + start, count);
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double one = relation(x[i]);
        if (std::bit_cast<std::uint64_t>(one) != std::bit_cast<std::uint64_t>(lanes[i]) &&
            !(std::isnan(one) && std::isnan(lanes[i]))) {
            if (++failures <= 20) {
                std::printf("FAILED: %s(%a): one at a time %a, on lanes %a\n", name, x[i], one,
                            lanes[i]);
            }
        }
    }
}

template <class Relation>
void compare_for_each_ga(const char* name, const std::vector<double>& x)
{
    for (const double ga : {1.4, 1.1, 1.67, 1.3, 1.0, 2.5, 0.5}) {
        if constexpr (std::is_constructible_v<Relation, double, bool>) {
            compare(name, Relation(ga, false), x);
            compare(name, Relation(ga, true), x);
        } else {
            compare(name, Relation(ga), x);
        }
    }
}

}  // namespace

int main()
{
    const std::vector<double> x = inputs();
    compare_for_each_ga<To_T_from_Ma>("To_T_from_Ma", x);
    compare_for_each_ga<Po_P_from_Ma>("Po_P_from_Ma", x);
    compare_for_each_ga<rhoo_rho_from_Ma>("rhoo_rho_from_Ma", x);
    compare_for_each_ga<V_cpTo_from_Ma>("V_cpTo_from_Ma", x);
    compare_for_each_ga<mcpTo_APo_from_Ma>("mcpTo_APo_from_Ma", x);
    compare_for_each_ga<mcpTo_AP_from_Ma>("mcpTo_AP_from_Ma", x);
    compare_for_each_ga<A_Acrit_from_Ma>("A_Acrit_from_Ma", x);
    compare_for_each_ga<Mash_from_Ma>("Mash_from_Ma", x);
    compare_for_each_ga<Posh_Po_from_Ma>("Posh_Po_from_Ma", x);
    compare_for_each_ga<Ma_from_Po_P>("Ma_from_Po_P", x);
    compare_for_each_ga<Ma_from_To_T>("Ma_from_To_T", x);
    compare_for_each_ga<Ma_from_rhoo_rho>("Ma_from_rhoo_rho", x);
    compare_for_each_ga<Ma_from_V_cpTo>("Ma_from_V_cpTo", x);
    compare_for_each_ga<Ma_from_F_mcpTo>("Ma_from_F_mcpTo", x);
    compare_for_each_ga<Ma_from_mcpTo_APo>("Ma_from_mcpTo_APo", x);
    compare_for_each_ga<Ma_from_mcpTo_AP>("Ma_from_mcpTo_AP", x);
    compare_for_each_ga<Ma_from_A_Acrit>("Ma_from_A_Acrit", x);
    compare_for_each_ga<Ma_from_Mash>("Ma_from_Mash", x);
    compare_for_each_ga<Ma_from_Posh_Po>("Ma_from_Posh_Po", x);
    if (failures != 0) {
        std::printf("%d element(s) differ between lanes and one element at a time\n", failures);
        return 1;
    }
    std::printf("lanes agree with one element at a time for all nineteen relations, on %zu "
                "inputs each\n",
                x.size());
    return 0;
}
