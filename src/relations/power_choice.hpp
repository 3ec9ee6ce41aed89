// Which kernel set's power function gives the platform's `pow` bits. The kernels evaluate the
// power on lanes by one algorithm (power.hpp), fused or not as their instruction set is; the
// platform's `pow` is whichever variant the C library picked for this process, by its own
// rules (glibc masks features through GLIBC_TUNABLES, musl never fuses, other systems use
// other algorithms). The choice is made once per process by comparing each candidate with
// the platform's `pow` on a few pairs on which the variants differ.
//
// The whole interface: a candidate per kernel set, and first_agreeing. Plain C++, no
// interpreter: a test can hand it any `pow`.
#pragma once

#include <cstddef>
#include <span>

namespace ventaroxi::relations {

// The platform's pow, or a stand-in for it.
using ScalarPow = double (*)(double base, double exponent);

// A kernel set's power function, named after the set: out[i] = base[i] ** exponent[i], for
// any count, evaluated on that set's lanes. power_candidate.hpp declares one per set.
struct PowerCandidate {
    const char* name;
    void (*power)(const double* base, const double* exponent, double* out, std::size_t count);
};

// The index of the first candidate (list them widest first, and only those the processor
// runs) that gives, on every probe pair, the bits of `platform_pow` called one pair at a
// time; candidates.size() when none does, and the power must then be evaluated one element
// at a time with the platform's pow.
std::size_t first_agreeing(std::span<const PowerCandidate> candidates, ScalarPow platform_pow);

// The probe pairs (see power_choice.cpp for how they were chosen).
struct PowerProbe {
    double base;
    double exponent;
};
std::span<const PowerProbe> power_probes();

}  // namespace ventaroxi::relations
