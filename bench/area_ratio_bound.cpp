// What bounds the area-ratio inverse: how many evaluations of the forward relation it makes
// per element, and how fast evaluations run when each waits for the one before, as the
// passes of a search do. Times, on the benchmark's targets (ga 1.4, the forward values of
// Mach numbers drawn uniformly on each branch), the forward relation as the kernels run it,
// chains of dependent evaluations with 1 to 4 vectors side by side, one after the other or
// interleaved (each vector's next point chosen from its last value, as a bisection pass
// chooses), and the inverse itself.
//
// Usage: area_ratio_bound [elements]; prints one JSON object.
#include "area_ratio_inverse.hpp"
#include "area_ratio_search_literal.hpp"
#include "run.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

using namespace ventaroxi;
using namespace ventaroxi::relations;

namespace {

constexpr double ga = 1.4;
constexpr int rounds = 5;
volatile double kept;  // the timed loops' results, so that no loop is optimised away

template <class Body>
double fastest_seconds(const Body& body)
{
    double fastest = 1e300;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        body();
        fastest = std::min(
            fastest,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return fastest;
}

// Nanoseconds per vector evaluation when `chains` vectors each take their next point from
// their last value: one vector's evaluation after another's, or `interleaved`, each operation
// issued for every vector before the next, as the settling of long runs evaluates.
template <int chains, bool interleaved>
double dependent_ns(const A_Acrit_from_Ma& area, long steps)
{
    Interleaved<Lanes, chains> x;
    for (int j = 0; j < chains; ++j) {
        x.vector[j] = Lanes{} + (0.3 + 0.01 * j);
    }
    const double seconds = fastest_seconds([&] {
        for (long step = 0; step < steps; ++step) {
            Interleaved<Lanes, chains> value;
            if constexpr (interleaved) {
                value = area(x);
            } else {
                for (int j = 0; j < chains; ++j) {
                    value.vector[j] = area(x.vector[j]);
                }
            }
            for (int j = 0; j < chains; ++j) {
                x.vector[j] =
                    select(value.vector[j] > 2.0, x.vector[j] * 1.0000001, x.vector[j] * 0.9999999);
            }
        }
    });
    double sink = 0;
    for (int j = 0; j < chains; ++j) {
        sink += x.vector[j][0];
    }
    kept = sink;
    return seconds / double(steps * chains) * 1e9;
}

void branch(bool sup, std::size_t count, double chain_ns, bool last)
{
    const A_Acrit_from_Ma area(ga);
    const Ma_from_A_Acrit inverse(ga, sup);
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> mach(sup ? 1.0 : 0.05, sup ? 5.0 : 1.0);
    std::vector<double> M(count);
    std::vector<double> targets(count);
    std::vector<double> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        M[i] = mach(random);
        targets[i] = area(M[i]);
    }
    // Evaluations of one target alone (every lane the same), on a share of the targets.
    std::uint64_t evaluations = 0;
    const std::size_t counted = std::min<std::size_t>(count, 20000);
    for (std::size_t i = 0; i < counted; ++i) {
        Lanes result[1];
        inverse.solve(CountingArea{area, evaluations}, {lanes_of(targets[i])}, result);
    }
    const double per_element = double(evaluations) / double(counted);
    const BoundRelation forward = bind_relation(area);
    const BoundRelation solve = bind_relation(inverse);
    const double forward_ns =
        fastest_seconds([&] { forward.apply(forward.constants, M.data(), out.data(), count); }) /
        double(count) * 1e9;
    const double inverse_ns =
        fastest_seconds([&] { solve.apply(solve.constants, targets.data(), out.data(), count); }) /
        double(count) * 1e9;
    // The opening alone (the Newton prediction, the windows, the walk to the first pass that
    // evaluates), in blocks as the run opens them.
    constexpr int block = Ma_from_A_Acrit::preparing_vectors;
    double sink = 0;
    const double opening_ns =
        fastest_seconds([&] {
            for (std::size_t i = 0; i + block * lane_count <= count; i += block * lane_count) {
                Lanes t[block];
                AreaRatioSettling search[block];
                Mask searched[block];
                for (int j = 0; j < block; ++j) {
                    t[j] = load_lanes(targets.data() + i + std::size_t(j) * lane_count);
                }
                inverse.open(area, t, search, searched);
                sink += search[0].midpoint()[0];
            }
        }) /
        double(count) * 1e9;
    kept = sink;
    const double bound_ns = per_element * chain_ns / lane_count;
    std::printf("\"%s\": {\"evaluations_per_element\": %.2f, \"forward_ns\": %.3f, "
                "\"inverse_ns\": %.1f, \"opening_ns\": %.1f, \"inverse_over_forward\": %.1f, "
                "\"evaluations_alone_ns\": %.1f, \"bound_over_forward\": %.1f}%s",
                sup ? "sup" : "sub", per_element, forward_ns, inverse_ns, opening_ns,
                inverse_ns / forward_ns, bound_ns, bound_ns / forward_ns, last ? "" : ", ");
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const A_Acrit_from_Ma area(ga);
    const long steps = 200000;
    const double chain[4] = {
        dependent_ns<1, false>(area, steps), dependent_ns<2, false>(area, steps),
        dependent_ns<3, false>(area, steps), dependent_ns<4, false>(area, steps)};
    const double interleaved[3] = {dependent_ns<2, true>(area, steps),
                                   dependent_ns<3, true>(area, steps),
                                   dependent_ns<4, true>(area, steps)};
    const double fastest_chain =
        std::min(*std::min_element(std::begin(chain), std::end(chain)),
                 *std::min_element(std::begin(interleaved), std::end(interleaved)));
    std::printf("{\"lane_count\": %d, \"elements\": %zu, \"dependent_vector_ns\": [%.1f, %.1f, "
                "%.1f, %.1f], \"interleaved_vector_ns\": [%.1f, %.1f, %.1f], ",
                lane_count, count, chain[0], chain[1], chain[2], chain[3], interleaved[0],
                interleaved[1], interleaved[2]);
    branch(false, count, fastest_chain, false);
    branch(true, count, fastest_chain, true);
    std::printf("}\n");
}
