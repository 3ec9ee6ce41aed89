#include "kernels.hpp"

namespace ventaroxi {
namespace {

const Evaluators& widest_supported()
{
#if defined(VENTAROXI_AVX2_KERNELS)
    // The same condition under which the C library's scalar pow takes its FMA variant,
    // which the wide kernels' power function reproduces. The check also covers the
    // operating system's saving of the wide registers.
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return ventaroxi::avx2::evaluators;
    }
#endif
    return ventaroxi::baseline::evaluators;
}

// Chosen once, when the module is loaded; the processor does not change under a process.
const Evaluators& chosen = widest_supported();

}  // namespace

const Evaluators& active_evaluators() noexcept { return chosen; }

}  // namespace ventaroxi
