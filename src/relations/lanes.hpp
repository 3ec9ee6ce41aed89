// A few doubles evaluated side by side, as wide as the instruction set of this
// compilation. The arithmetic operators of GCC's vector types are the IEEE operations of
// each lane, and the square root is the correctly rounded one, so a relation evaluated on
// lanes gives the bits it gives one element at a time. (The power function on lanes is in
// power.hpp.)
#pragma once

#include "isa.hpp"

#include <cstdint>
#include <type_traits>
#include <utility>

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

// Comparisons of lanes give a mask: all bits set in the lanes where they hold.
using Mask = decltype(Lanes{} < Lanes{});

// A signed integer per lane (exponents, pass counts), and the bits of each lane's double.
// The integers are a vector type of their own, their element type another 64-bit integer
// than the mask's, so that the compiler refuses a mask used as a count or a count as a mask
// (clang needs -flax-vector-conversions=none for that, which meson.build gives it).
using MaskElement = std::remove_cvref_t<decltype(Mask{}[0])>;
using Integer = std::conditional_t<std::is_same_v<MaskElement, long>, long long, long>;
using IntegerLanes = Integer __attribute__((vector_size(sizeof(Lanes))));
using BitLanes = std::uint64_t __attribute__((vector_size(sizeof(Lanes))));
static_assert(sizeof(Integer) == sizeof(double) && !std::is_same_v<IntegerLanes, Mask>);
// Comparing integers gives a mask, as comparing lanes does.
static_assert(
    std::is_same_v<decltype(std::declval<IntegerLanes>() < std::declval<IntegerLanes>()), Mask>);

// 1 in the lanes where `where` holds, 0 elsewhere.
inline IntegerLanes one_where(Mask where) { return __builtin_bit_cast(IntegerLanes, where) & 1; }

inline Lanes select(Mask where, Lanes then, Lanes otherwise) { return where ? then : otherwise; }
inline Mask every_lane() { return Mask{} == Mask{}; }

inline bool any(Mask mask)
{
#if defined(__AVX2__)
    return _mm256_movemask_pd(reinterpret_cast<__m256d&>(mask)) != 0;
#elif defined(__x86_64__)
    return _mm_movemask_pd(reinterpret_cast<__m128d&>(mask)) != 0;
#else
    for (int lane = 0; lane < lane_count; ++lane) {
        if (mask[lane] != 0) {
            return true;
        }
    }
    return false;
#endif
}

inline Lanes fabs(Lanes x)
{
    return __builtin_bit_cast(Lanes, __builtin_bit_cast(BitLanes, x) & 0x7fffffffffffffff);
}
inline Mask isnan(Lanes x) { return x != x; }

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
