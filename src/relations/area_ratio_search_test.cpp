// The area-ratio search that stops when its bracket stops moving must give, bit for bit,
// what the search run for all 10000 passes gives; and it must be much cheaper.
#include "area_ratio_inverse.hpp"
#include "area_ratio_search_literal.hpp"
#include "run.hpp"
#include "unit_workload.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

using namespace ventaroxi::relations;

namespace {

int failures = 0;

std::vector<double> targets(const A_Acrit_from_Ma& area)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double max = std::numeric_limits<double>::max();
    std::vector<double> list = {
        1.0,
        std::nextafter(1.0, 2.0),
        std::nextafter(1.0, 0.0),
        0.5,
        0.0,
        -0.0,
        -1.0,
        -inf,
        inf,
        max,
        1e308,
        1e300,
        1e200,
        1e100,
        1e20,
        1e-300,
        5e-324,
        2.0,
        1.5,
        1.0000001,
        100.0,
    };
    const std::size_t fixed = list.size();
    // Forward values on both sides of the sonic point: targets met exactly, or nearly.
    for (double M = 1e-3; M < 1; M *= 1.07) {
        list.push_back(area(M));
    }
    for (double M = 1.001; M < 1e60; M *= 1.6) {
        list.push_back(area(M));
    }
    // Values spread over the whole range, unrelated to any grid.
    for (double t = 1.0000003; t < 1e300; t *= 3.7) {
        list.push_back(t);
    }
    // A smaller workload keeps every k-th generated target, spread over the same ranges.
    const long generated = static_cast<long>(list.size() - fixed);
    const long stride = generated / ventaroxi::unit_workload::scaled(generated);
    std::size_t kept = fixed;
    for (std::size_t i = fixed; i < list.size(); i += static_cast<std::size_t>(stride)) {
        list[kept++] = list[i];
    }
    list.resize(kept);
    return list;
}

struct Cost {
    std::uint64_t total = 0;
    std::uint64_t most = 0;
    std::uint64_t count = 0;
};

void compare(double ga, bool sup, Cost& cost)
{
    const A_Acrit_from_Ma area(ga);
    const Ma_from_A_Acrit inverse(ga, sup);
    // The kernel evaluates the targets on lanes, skipping the passes they share.
    const std::vector<double> all = targets(area);
    std::vector<double> on_lanes(all.size());
    const ventaroxi::RunKernel kernel = bind_run(inverse);
    kernel.apply(kernel.relation, all.data(), on_lanes.data(), all.size());
    std::size_t index = 0;
    for (const double t : all) {
        const double lanes = on_lanes[index++];
        if (std::isnan(t)) {
            continue;  // NaN targets are the one deliberate difference, checked below
        }
        std::uint64_t evaluations = 0;
        const auto counted = [&](double x) {
            ++evaluations;
            return area(x);
        };
        const double early = t == 1 ? inverse(t) : search_area_ratio(counted, t, sup);
        const double literal = search_area_ratio_literal(area, t, sup);
        // A NaN ga gives the relation NaN (but 1 for t = 1), where the plain search would
        // report its first midpoint; the search itself must still match.
        const double expected =
            std::isnan(ga) && t != 1 ? std::numeric_limits<double>::quiet_NaN() : literal;
        if (std::bit_cast<std::uint64_t>(early) != std::bit_cast<std::uint64_t>(literal) ||
            std::bit_cast<std::uint64_t>(inverse(t)) != std::bit_cast<std::uint64_t>(expected) ||
            std::bit_cast<std::uint64_t>(lanes) != std::bit_cast<std::uint64_t>(expected)) {
            if (++failures > 20) {
                continue;
            }
            std::printf(
                "FAILED: ga=%.17g sup=%d t=%.17g: early %.17g, on lanes %.17g, all passes %.17g\n",
                ga, sup, t, early, lanes, literal);
        }
        if (ga > 1 && t != 1) {
            cost.total += evaluations;
            cost.most = std::max(cost.most, evaluations);
            ++cost.count;
        }
    }
}

void nan_target()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const bool sup : {false, true}) {
        const Ma_from_A_Acrit inverse(1.4, sup);
        const double literal = search_area_ratio_literal(A_Acrit_from_Ma(1.4), nan, sup);
        if (!std::isnan(inverse(nan)) || literal != (sup ? 8.988465674311579e307 : 0.5)) {
            std::printf(
                "FAILED: a NaN target must give NaN, where the plain search gives its first "
                "midpoint (sup=%d)\n",
                sup);
            ++failures;
        }
    }
}

}  // namespace

int main()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Cost subsonic;
    Cost supersonic;
    // Physical ratios of specific heats, and ga = 1, below 1 and NaN, whose searches stall.
    for (const double ga : {1.4, 1.1, 1.67, 1.3, 1.0, 0.5, 3.0, nan}) {
        compare(ga, false, subsonic);
        compare(ga, true, supersonic);
    }
    nan_target();
    for (const auto& [name, cost] :
         {std::pair{"subsonic", subsonic}, std::pair{"supersonic", supersonic}}) {
        std::printf("%s: %llu targets, %.0f evaluations on average, %llu at most (10000 without "
                    "the stop)\n",
                    name, static_cast<unsigned long long>(cost.count),
                    static_cast<double>(cost.total) / static_cast<double>(cost.count),
                    static_cast<unsigned long long>(cost.most));
        if (cost.most > 1200) {
            std::printf("FAILED: the %s search should settle within 1200 evaluations\n", name);
            ++failures;
        }
    }
    if (failures != 0) {
        std::printf("%d check(s) failed\n", failures);
        return 1;
    }
    std::printf("area ratio search: all checks passed\n");
    return 0;
}
