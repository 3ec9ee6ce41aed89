#include "power_choice.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace ventaroxi::relations {
namespace {

// Bases in [0.5, 50] and exponents of magnitude 0.2 to 10, as the relations raise them,
// drawn at random and kept where the fused and the non-fused builds of the power algorithm
// give different bits, and where one of the two is the correctly rounded power (checked
// against a quadruple-precision pow): the first eight are pairs where only the fused build
// rounds correctly, the last eight where only the non-fused build does. So a platform pow
// of either variant agrees on all sixteen with the kernels of that variant only, and a
// correctly rounded pow with neither. power_choice_test checks that the pairs still tell
// the two variants apart. The comment on each pair is the other variant's result.
constexpr std::array<PowerProbe, 16> probes = {{
    {0x1.5eb9b0acf6a3fp-1, 0x1.1ea34c667a613p+3},   // 0x1.147a05fe66b68p-5
    {0x1.7cd29af2e85cfp+1, -0x1.b2198fc42b548p+2},  // 0x1.41f99f84b6398p-11
    {0x1.e58f2708da1d3p+3, -0x1.25618edb37397p+1},  // 0x1.0146b77558accp-9
    {0x1.f31902ed3a02dp+2, -0x1.c11804f4e745cp+1},  // 0x1.84faf9bf95562p-11
    {0x1.465f1f4e64cd8p+4, 0x1.18fd8d72b3c4dp+3},   // 0x1.262602b5a803cp+38
    {0x1.8065ef9e6306ap+0, 0x1.3454f2698a8f6p+3},   // 0x1.91e98b6a9f2ep+5
    {0x1.3a0281e9b16dcp+4, 0x1.f9620b510f61ep+0},   // 0x1.64a3cee8b5ab4p+8
    {0x1.e683b0cd117fcp+3, 0x1.952cc827b1a9ap+2},   // 0x1.cfb7003b23fbp+24
    {0x1.9ea0b863dc7d6p-1, -0x1.828d0b85355afp+0},  // 0x1.6005b375c8adfp+0
    {0x1.128f6a6c7e58p+0, 0x1.5344e061cdd5fp+2},    // 0x1.730164a788125p+0
    {0x1.e9e1649a188c9p+4, 0x1.40c23ef2059adp+1},   // 0x1.4ad642a98b45bp+12
    {0x1.1f0c8ba9dafe8p+2, -0x1.251f182231ac1p+2},  // 0x1.0f435641ebcc5p-10
    {0x1.a68438038e894p+4, 0x1.48bf571d6e75cp+2},   // 0x1.3284dfcb6ecfdp+24
    {0x1.5583d65d8faffp+4, 0x1.031e2c2cd8b45p+3},   // 0x1.b08a0079b92e9p+35
    {0x1.3bc8c58c23d8p-1, -0x1.20de3aca371a5p+1},   // 0x1.7cf1e590f42cfp+1
    {0x1.2b22cf4c19adp+2, 0x1.f1f29cfd67f5cp+1},    // 0x1.92ef19e40bbf9p+8
}};

std::uint64_t bits(double x)
{
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

}  // namespace

std::span<const PowerProbe> power_probes() { return probes; }

std::size_t first_agreeing(std::span<const PowerCandidate> candidates, ScalarPow platform_pow)
{
    std::array<double, probes.size()> base;
    std::array<double, probes.size()> exponent;
    std::array<double, probes.size()> expected;
    for (std::size_t i = 0; i < probes.size(); ++i) {
        base[i] = probes[i].base;
        exponent[i] = probes[i].exponent;
    }
    // The compiler must not evaluate the pow of these constants itself (it would round
    // them correctly, not as the platform does): it cannot see through the empty asm.
    asm volatile("" : : "r"(base.data()), "r"(exponent.data()) : "memory");
    for (std::size_t i = 0; i < probes.size(); ++i) {
        expected[i] = platform_pow(base[i], exponent[i]);
    }
    for (std::size_t c = 0; c < candidates.size(); ++c) {
        std::array<double, probes.size()> lanes;
        candidates[c].power(base.data(), exponent.data(), lanes.data(), probes.size());
        bool agrees = true;
        for (std::size_t i = 0; i < probes.size(); ++i) {
            agrees = agrees && bits(lanes[i]) == bits(expected[i]);
        }
        if (agrees) {
            return c;
        }
    }
    return candidates.size();
}

}  // namespace ventaroxi::relations
