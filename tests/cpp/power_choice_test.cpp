// The choice of kernel set by the platform's pow (power_choice.hpp): the probe pairs tell the
// fused and non-fused variants of the power algorithm apart; a pow that is neither variant
// (perturbed, or musl's where only the fused variant is offered) sends the power one
// element at a time; the choice made with this process's pow gives that pow's bits far
// beyond the probes; and the choice costs little; on 64-bit Arm, the fused lanes are chosen.
// Prints the choice made in this process.
//
// Linked with power_candidate.cpp compiled for the kernel sets the module offers
// (kernel_sets.hpp) and for the two variants at baseline instructions (test_fused,
// test_unfused).
// Built with VENTAROXI_MUSL_POW, it is also linked with musl's pow under the name musl_pow.
//
// Usage: power_choice_test [--which]   (--which prints only the name of the chosen set)
#include "kernel_sets.hpp"
#include "power_candidate.hpp"
#include "processor_features.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

using namespace ventaroxi::relations;

#define DECLARE_POWER(name, features)                                                              \
    namespace ventaroxi::relations::name {                                                         \
    extern const PowerCandidate power_candidate;                                                   \
    }
DECLARE_POWER(test_fused, "")
DECLARE_POWER(test_unfused, "")
VENTAROXI_OFFERED_KERNEL_SETS(DECLARE_POWER)
#undef DECLARE_POWER

#if defined(VENTAROXI_MUSL_POW)
extern "C" double musl_pow(double, double);
#endif

namespace {

int failures = 0;

void expect(bool holds, const char* what)
{
    std::printf("%s: %s\n", holds ? "ok" : "FAILED", what);
    failures += holds ? 0 : 1;
}

std::uint64_t bits(double x)
{
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

double platform_pow(double x, double y) { return std::pow(x, y); }

// Gives the platform's bits except on the last probe pair, one unit in the last place off.
double perturbed_pow(double x, double y)
{
    const PowerProbe last = power_probes().back();
    const double exact = std::pow(x, y);
    return x == last.base && y == last.exponent ? std::nextafter(exact, INFINITY) : exact;
}

// The offered kernel sets that this processor runs, in the module's order.
std::vector<PowerCandidate> host_candidates()
{
    std::vector<PowerCandidate> sets;
#define OFFER(name, features)                                                                      \
    if (ventaroxi::processor_has(features)) {                                                      \
        sets.push_back(ventaroxi::relations::name::power_candidate);                               \
    }
    VENTAROXI_OFFERED_KERNEL_SETS(OFFER)
#undef OFFER
    return sets;
}

const char* chosen_name(const std::vector<PowerCandidate>& sets, std::size_t chosen)
{
#define NAME_OF(name) #name
#define NAME(name) NAME_OF(name)
    return chosen < sets.size() ? sets[chosen].name : NAME(VENTAROXI_FALLBACK_KERNEL_SET);
#undef NAME
#undef NAME_OF
}

void probes_separate_the_variants()
{
    const auto probes = power_probes();
    std::size_t differing = 0;
    for (const PowerProbe& probe : probes) {
        double fused;
        double unfused;
        test_fused::power_candidate.power(&probe.base, &probe.exponent, &fused, 1);
        test_unfused::power_candidate.power(&probe.base, &probe.exponent, &unfused, 1);
        differing += bits(fused) != bits(unfused) ? 1 : 0;
    }
    std::printf("the variants differ on %zu of %zu probe pairs\n", differing, probes.size());
    expect(differing == probes.size(), "every probe pair tells the variants apart");
    // Each variant is chosen by a pow that is that variant, and the other one is not.
    const auto fused_pow = [](double x, double y) {
        double out;
        test_fused::power_candidate.power(&x, &y, &out, 1);
        return out;
    };
    const auto unfused_pow = [](double x, double y) {
        double out;
        test_unfused::power_candidate.power(&x, &y, &out, 1);
        return out;
    };
    const PowerCandidate both[] = {test_fused::power_candidate, test_unfused::power_candidate};
    expect(first_agreeing(both, +fused_pow) == 0, "a fused pow chooses the fused variant");
    expect(first_agreeing(both, +unfused_pow) == 1, "a non-fused pow chooses the non-fused one");
}

void foreign_pows_choose_one_element_at_a_time()
{
    const std::vector<PowerCandidate> host = host_candidates();
    const PowerCandidate both[] = {test_fused::power_candidate, test_unfused::power_candidate};
    expect(first_agreeing(host, &perturbed_pow) == host.size(),
           "a pow one ulp off on one probe pair: the power one element at a time");
    expect(first_agreeing(both, &perturbed_pow) == 2, "... whichever variants are offered");
#if defined(VENTAROXI_MUSL_POW)
    // musl's pow is the non-fused variant: a processor offering only fused kernels must
    // evaluate one element at a time, one that also offers non-fused kernels takes those.
    const PowerCandidate fused_only[] = {test_fused::power_candidate};
    expect(first_agreeing(fused_only, &musl_pow) == 1,
           "musl's pow, fused kernels only: the power one element at a time");
    expect(first_agreeing(both, &musl_pow) == 1, "musl's pow chooses the non-fused kernels");
#else
    std::printf("(built without musl's pow)\n");
#endif
}

// The chosen set, against this process's pow on many pairs like the relations' own.
void choice_holds_beyond_the_probes(const std::vector<PowerCandidate>& host, std::size_t chosen)
{
    if (chosen == host.size()) {
        std::printf("(one element at a time: nothing to compare)\n");
        return;
    }
    constexpr std::size_t count = 200'000;
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> log_base(std::log(0.5), std::log(50.0));
    std::uniform_real_distribution<double> magnitude(0.2, 10);
    std::vector<double> x(count);
    std::vector<double> y(count);
    std::vector<double> lanes(count);
    for (std::size_t i = 0; i < count; ++i) {
        x[i] = std::exp(log_base(random));
        y[i] = magnitude(random) * (random() % 2 == 0 ? 1 : -1);
    }
    host[chosen].power(x.data(), y.data(), lanes.data(), count);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < count; ++i) {
        differing += bits(lanes[i]) != bits(platform_pow(x[i], y[i])) ? 1 : 0;
    }
    std::printf("%s against this process's pow: %zu of %zu pairs differ\n", host[chosen].name,
                differing, count);
    expect(differing == 0, "the chosen set gives this process's pow bits");
}

#if defined(__aarch64__)
// Every 64-bit Arm processor fuses multiply-adds, so glibc builds only the fused variant of
// pow there, and the baseline kernels, compiled with __FP_FAST_FMA, are that variant too:
// the lanes must be chosen, not the power one element at a time.
void arm_chooses_the_fused_lanes(const std::vector<PowerCandidate>& host, std::size_t chosen)
{
    expect(chosen < host.size() && std::strcmp(host[chosen].name, "baseline") == 0,
           "aarch64: the baseline lanes are chosen");
    const PowerCandidate both[] = {test_fused::power_candidate, test_unfused::power_candidate};
    expect(first_agreeing(both, &platform_pow) == 0, "aarch64: the platform's pow is fused");
    const auto baseline_pow = [](double x, double y) {
        double out;
        baseline::power_candidate.power(&x, &y, &out, 1);
        return out;
    };
    expect(first_agreeing(both, +baseline_pow) == 0, "aarch64: the baseline lanes are fused");
}
#endif

void choice_is_cheap(const std::vector<PowerCandidate>& host)
{
    std::vector<double> micro;
    for (int round = 0; round < 200; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const std::size_t chosen = first_agreeing(host, &platform_pow);
        const auto end = std::chrono::steady_clock::now();
        asm volatile("" : : "r"(chosen));
        micro.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    const double first = micro.front();
    std::sort(micro.begin(), micro.end());
    std::printf("the choice takes %.2f us the first time, %.2f us at the median\n", first,
                micro[micro.size() / 2]);
    expect(micro[micro.size() / 2] < 50, "the choice takes less than 50 us");
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<PowerCandidate> host = host_candidates();
    if (argc > 1 && std::strcmp(argv[1], "--which") == 0) {
        std::printf("%s\n", chosen_name(host, first_agreeing(host, &platform_pow)));
        return 0;
    }
    // The first choice of the process is the one the module makes; timed on its own.
    const auto start = std::chrono::steady_clock::now();
    const std::size_t chosen = first_agreeing(host, &platform_pow);
    const double first_us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    std::printf("kernel set chosen in this process: %s (first choice %.2f us)\n",
                chosen_name(host, chosen), first_us);
    probes_separate_the_variants();
    foreign_pows_choose_one_element_at_a_time();
    choice_holds_beyond_the_probes(host, chosen);
#if defined(__aarch64__)
    arm_chooses_the_fused_lanes(host, chosen);
#endif
    choice_is_cheap(host);
    return failures == 0 ? 0 : 1;
}
