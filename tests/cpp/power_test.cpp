// The power function on lanes against the C library's scalar pow, bit for bit, over inputs
// drawn across the whole range of doubles and over the special values.
#include "power.hpp"
#include "unit_workload.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <utility>
#include <vector>

using namespace ventaroxi::relations;

namespace {

std::uint64_t bits(double x)
{
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

bool same(double a, double b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

long mismatches = 0;

void check(const double* x, const double* y)
{
    const Lanes result = pow(load_lanes(x), load_lanes(y));
    for (int lane = 0; lane < lane_count; ++lane) {
        const double expected = std::pow(x[lane], y[lane]);
        if (!same(result[lane], expected)) {
            if (++mismatches <= 10) {
                std::printf("pow(%a, %a): lanes give %a, pow gives %a\n", x[lane], y[lane],
                            result[lane], expected);
            }
        }
    }
}

// Several vectors side by side with one exponent, as the kernels evaluate them: each lane
// against pow, whatever the other vectors hold.
template <int k>
void check_interleaved(const double* x, double y)
{
    const Interleaved<Lanes, k> result = pow(load_interleaved<k>(x), y);
    for (int lane = 0; lane < k * lane_count; ++lane) {
        const double actual = result.vector[lane / lane_count][lane % lane_count];
        const double expected = std::pow(x[lane], y);
        if (!same(actual, expected) && ++mismatches <= 10) {
            std::printf("pow(%a, %a) in %d vectors: %a, pow gives %a\n", x[lane], y, k, actual,
                        expected);
        }
    }
}

// The two powers of one base, side by side in k vectors (k = 1: Lanes), each against pow.
template <int k>
void check_two_powers(const double* x, double a, double b)
{
    const auto [first, second] = [&] {
        if constexpr (k == 1) {
            return two_powers(load_lanes(x), a, b);
        } else {
            return two_powers(load_interleaved<k>(x), a, b);
        }
    }();
    for (int lane = 0; lane < k * lane_count; ++lane) {
        const auto at = [&](const auto& lanes) {
            if constexpr (k == 1) {
                return lanes[lane];
            } else {
                return lanes.vector[lane / lane_count][lane % lane_count];
            }
        };
        for (const auto& [actual, y] : {std::pair(at(first), a), std::pair(at(second), b)}) {
            const double expected = std::pow(x[lane], y);
            if (!same(actual, expected) && ++mismatches <= 10) {
                std::printf("two powers of %a, %a in %d vectors: %a, pow gives %a\n", x[lane], y, k,
                            actual, expected);
            }
        }
    }
}

}  // namespace

int main()
{
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> log_base(-745, 710);
    std::uniform_real_distribution<double> moderate(-12, 12);
    std::uniform_int_distribution<std::uint64_t> any_bits;
    double x[lane_count];
    double y[lane_count];
    long checked = 0;
    const long spread_rounds = ventaroxi::unit_workload::scaled(2'000'000);
    const long bit_pattern_rounds = ventaroxi::unit_workload::scaled(500'000);
    // Bases across the whole exponent range, exponents of every size the relations use.
    for (long round = 0; round < spread_rounds; ++round) {
        for (int lane = 0; lane < lane_count; ++lane) {
            x[lane] = std::exp(log_base(random) * (round % 3 == 0 ? 1 : 0.01));
            y[lane] = round % 5 == 0 ? moderate(random) * 100 : moderate(random);
        }
        check(x, y);
        checked += lane_count;
    }
    // Arbitrary bit patterns: negatives, subnormals, infinities, NaNs.
    for (long round = 0; round < bit_pattern_rounds; ++round) {
        for (int lane = 0; lane < lane_count; ++lane) {
            std::uint64_t xb = any_bits(random);
            std::uint64_t yb = any_bits(random);
            std::memcpy(&x[lane], &xb, sizeof xb);
            std::memcpy(&y[lane], &yb, sizeof yb);
            if (round % 2 == 0) {
                y[lane] = moderate(random);
            }
        }
        check(x, y);
        checked += lane_count;
    }
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double specials[] = {0.0,
                               -0.0,
                               1.0,
                               -1.0,
                               2.0,
                               -2.0,
                               0.5,
                               inf,
                               -inf,
                               nan,
                               1e-310,
                               -1e-310,
                               1e308,
                               std::nextafter(1.0, 2.0),
                               std::nextafter(1.0, 0.0),
                               3.0,
                               -3.5};
    for (double a : specials) {
        for (double b : specials) {
            for (int lane = 0; lane < lane_count; ++lane) {
                x[lane] = lane % 2 == 0 ? a : 1.5;  // a special lane beside an ordinary one
                y[lane] = lane % 2 == 0 ? b : -2.5;
            }
            check(x, y);
            checked += lane_count;
        }
    }
    // Interleaved vectors: ordinary bases with now and then a special one (or a special
    // exponent for all), so that one vector falls back to pow beside ordinary ones.
    double group[4 * lane_count];
    std::uniform_int_distribution<int> pick(0, std::size(specials) - 1);
    for (long round = 0; round < spread_rounds / 8; ++round) {
        for (double& base : group) {
            base = round % 7 == 0 && any_bits(random) % 5 == 0 ? specials[pick(random)]
                                                               : std::exp(log_base(random) * 0.01);
        }
        const double y = round % 11 == 0 ? specials[pick(random)] : moderate(random);
        check_interleaved<2>(group, y);
        check_interleaved<vectors_in_flight>(group, y);
        check_interleaved<4>(group, y);
        const double other = round % 13 == 0 ? specials[pick(random)] : moderate(random);
        check_two_powers<1>(group, y, other);
        check_two_powers<vectors_in_flight>(group, y, other);
        checked += long{6 + vectors_in_flight + 2 * (1 + vectors_in_flight)} * lane_count;
    }
    std::printf("%ld powers, %ld mismatches\n", checked, mismatches);
    return mismatches == 0 ? 0 : 1;
}
