// A few doubles evaluated side by side, as many as the kernel set of this compilation has
// lanes (src/kernel_sets.txt; the build passes VENTAROXI_LANE_COUNT). The arithmetic operators of GCC's vector types are the IEEE operations of
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

// Compiled outside the build (by an editor), the lanes are as wide as the instruction set.
#if !defined(VENTAROXI_LANE_COUNT)
#if defined(__AVX512F__)
#define VENTAROXI_LANE_COUNT 8
#elif defined(__AVX2__)
#define VENTAROXI_LANE_COUNT 4
#else
#define VENTAROXI_LANE_COUNT 2
#endif
#endif

// The vector register that the lanes fill exactly, in bits, where the instruction set has
// one; 0 where it has none, and the operations that would want one go lane by lane. The
// intrinsic branches here and in power.hpp are chosen by this alone, each pinned to its
// width, so that a set whose lanes do not fill a register takes no register's branch (eight
// lanes built for AVX2 go lane by lane; the compiler splits their arithmetic in two).
#if defined(__AVX512F__) && VENTAROXI_LANE_COUNT == 8
#define VENTAROXI_LANE_REGISTER 512
#elif defined(__AVX__) && VENTAROXI_LANE_COUNT == 4
#define VENTAROXI_LANE_REGISTER 256
#elif defined(__SSE2__) && VENTAROXI_LANE_COUNT == 2
#define VENTAROXI_LANE_REGISTER 128
#else
#define VENTAROXI_LANE_REGISTER 0
#endif

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

inline constexpr int lane_count = VENTAROXI_LANE_COUNT;

using Lanes = double __attribute__((vector_size(lane_count * sizeof(double))));

#if VENTAROXI_LANE_REGISTER == 512
static_assert(sizeof(Lanes) == sizeof(__m512d));
#elif VENTAROXI_LANE_REGISTER == 256
static_assert(sizeof(Lanes) == sizeof(__m256d));
#elif VENTAROXI_LANE_REGISTER == 128
static_assert(sizeof(Lanes) == sizeof(__m128d));
#endif

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

// `x` in every lane, its sign and payload included (Lanes{} + x turns -0 into +0).
inline Lanes lanes_of(double x)
{
    Lanes lanes{};
    for (int lane = 0; lane < lane_count; ++lane) {
        lanes[lane] = x;
    }
    return lanes;
}
inline Mask every_lane() { return Mask{} == Mask{}; }

// Bit `lane` set where the mask holds in that lane.
inline unsigned lane_bits(Mask mask)
{
#if VENTAROXI_LANE_REGISTER == 512
    const auto bits = __builtin_bit_cast(__m512i, mask);
    return _mm512_test_epi64_mask(bits, bits);
#elif VENTAROXI_LANE_REGISTER == 256
    return static_cast<unsigned>(_mm256_movemask_pd(__builtin_bit_cast(__m256d, mask)));
#elif VENTAROXI_LANE_REGISTER == 128
    return static_cast<unsigned>(_mm_movemask_pd(__builtin_bit_cast(__m128d, mask)));
#else
    unsigned bits = 0;
    for (int lane = 0; lane < lane_count; ++lane) {
        bits |= static_cast<unsigned>(mask[lane] != 0) << lane;
    }
    return bits;
#endif
}

inline bool any(Mask mask) { return lane_bits(mask) != 0; }

inline bool all(Mask mask)
{
#if VENTAROXI_LANE_REGISTER == 512
    const auto bits = __builtin_bit_cast(__m512i, mask);
    return _mm512_test_epi64_mask(bits, bits) == 0xff;
#elif VENTAROXI_LANE_REGISTER == 256
    return _mm256_movemask_pd(__builtin_bit_cast(__m256d, mask)) == 0xf;
#elif VENTAROXI_LANE_REGISTER == 128
    return _mm_movemask_pd(__builtin_bit_cast(__m128d, mask)) == 0x3;
#else
    for (int lane = 0; lane < lane_count; ++lane) {
        if (mask[lane] == 0) {
            return false;
        }
    }
    return true;
#endif
}

inline Lanes fabs(Lanes x)
{
    return __builtin_bit_cast(Lanes, __builtin_bit_cast(BitLanes, x) & 0x7fffffffffffffff);
}
inline Mask isnan(Lanes x) { return x != x; }

inline double sqrt(double x) { return __builtin_sqrt(x); }

#if VENTAROXI_LANE_REGISTER == 512
// Every lane taken, through the masked form: GCC 12's _mm512_sqrt_pd fills its unused source
// with _mm512_undefined_pd, which -Werror=uninitialized refuses.
inline Lanes sqrt(Lanes x) { return _mm512_mask_sqrt_pd(x, 0xff, x); }
#elif VENTAROXI_LANE_REGISTER == 256
inline Lanes sqrt(Lanes x) { return _mm256_sqrt_pd(x); }
#elif VENTAROXI_LANE_REGISTER == 128
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
