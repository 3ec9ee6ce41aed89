// Every relation evaluated on lanes, as the kernels run it, against the same relation one
// element at a time, bit for bit: over targets spread across each relation's range, its
// edge values and special values, in every lane position and with padded tails.
#include "relation_list.hpp"
#include "run.hpp"
#include "unit_workload.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string_view>
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
void check(std::string_view name, const Relation& relation, const std::vector<double>& x,
           const std::vector<double>& lanes);

template <class Relation>
void compare(std::string_view name, const Relation& relation, const std::vector<double>& x)
{
    std::vector<double> lanes(x.size());
    const ventaroxi::BoundRelation bound = bind_relation(relation);
    // Runs of every length up to two interleaved blocks and a few vectors more, so that every
    // position in a block, in the whole vectors after the blocks and in every tail is met;
    // then of every length up to a few hundred, long enough for the iterative inverses'
    // lanes to take new elements as others end.
    for (const std::size_t longest : {(2 * vectors_in_flight + 2) * lane_count + 3, 400}) {
        for (std::size_t start = 0, length = 1; start < x.size();
             start += length, length = length % longest + 1) {
            const std::size_t count = std::min(length, x.size() - start);
            bound.apply(bound.constants, x.data() + start, lanes.data() + start, count);
        }
        check(name, relation, x, lanes);
    }
}

template <class Relation>
void check(std::string_view name, const Relation& relation, const std::vector<double>& x,
           const std::vector<double>& lanes)
{
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double one = relation(x[i]);
        if (std::bit_cast<std::uint64_t>(one) != std::bit_cast<std::uint64_t>(lanes[i]) &&
            !(std::isnan(one) && std::isnan(lanes[i]))) {
            if (++failures <= 20) {
                std::printf("FAILED: %.*s(%a): one at a time %a, on lanes %a\n",
                            static_cast<int>(name.size()), name.data(), x[i], one, lanes[i]);
            }
        }
    }
}

template <class Relation>
void compare_for_each_ga(std::string_view name, const std::vector<double>& x)
{
    for (const double ga : {1.4, 1.1, 1.67, 1.3, 1.0, 2.5, 0.5}) {
        for (const bool sup : {false, true}) {
            if (sup && !takes_sup<Relation>) {
                continue;
            }
            compare(name, make_relation<Relation>(ga, sup), x);
        }
    }
}

// Long stretches of one value each, mostly values that an inverse refuses before iterating or
// fails on, so that whole vectors and long runs of lanes finish at once.
std::vector<double> alike()
{
    std::vector<double> list;
    for (const double value :
         {2.0, std::numeric_limits<double>::infinity(), -1.0, std::nan(""), 0.5, 1e300}) {
        list.insert(list.end(), 300, value);
    }
    return list;
}

}  // namespace

int main()
{
    const std::vector<double> x = inputs();
    const std::vector<double> same = alike();
    Relations::for_each([&]<class Relation>(std::string_view name) {
        compare_for_each_ga<Relation>(name, x);
        compare_for_each_ga<Relation>(name, same);
    });
    if (failures != 0) {
        std::printf("%d element(s) differ between lanes and one element at a time\n", failures);
        return 1;
    }
    std::printf("%d-lane kernels agree with one element at a time for all %zu relations, on %zu "
                "inputs each\n",
                lane_count, Relations::size, x.size());
    return 0;
}
