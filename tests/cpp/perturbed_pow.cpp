// A pow that no kernel set reproduces, put before the C library's by LD_PRELOAD: the C
// library's result, one unit in the last place up wherever it is finite and neither 0 nor 1.
// The module must then evaluate its powers one element at a time, by this pow.
// Built by tests/test_platform_pow.py. (No <cmath>: its declaration of pow is noexcept,
// which this definition would contradict.)
#include <dlfcn.h>

using Pow = double (*)(double, double);

extern "C" __attribute__((visibility("default"))) double pow(double base, double exponent)
{
    static const Pow platform = reinterpret_cast<Pow>(dlsym(RTLD_NEXT, "pow"));
    const double result = platform(base, exponent);
    const bool kept = !__builtin_isfinite(result) || result == 0 || result == 1;
    return kept ? result : __builtin_nextafter(result, __builtin_inf());
}
