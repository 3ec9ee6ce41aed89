// A few doubles evaluated side by side, as wide as the instruction set of this
// compilation. The arithmetic operators of GCC's vector types are the IEEE operations of
// each lane, and the square root is the correctly rounded one, so a relation evaluated on
// lanes gives the bits it gives one element at a time. (The power function on lanes is in
// power.hpp.)
#pragma once

#include "isa.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

#if defined(__AVX2__)
inline constexpr int lane_count = 4;
#else
inline constexpr int lane_count = 2;
#endif

using Lanes = double __attribute__((vector_size(lane_count * sizeof(double))));

inline Lanes load_lanes(const double* from)
{
    Lanes lanes;
    __builtin_memcpy(&lanes, from, sizeof lanes);
    return lanes;
}

inline void store_lanes(double* to, Lanes lanes) { __builtin_memcpy(to, &lanes, sizeof lanes); }

inline double sqrt(double x) { return __builtin_sqrt(x); }

#if defined(__AVX2__)
inline Lanes sqrt(Lanes x) { return _mm256_sqrt_pd(x); }
#elif defined(__x86_64__)
inline Lanes sqrt(Lanes x) { return _mm_sqrt_pd(x); }
#else
inline Lanes sqrt(Lanes x)
{
    for (int lane = 0; lane < lane_count; ++lane) {
        x[lane] = __builtin_sqrt(x[lane]);
    }
    return x;
}
#endif

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
