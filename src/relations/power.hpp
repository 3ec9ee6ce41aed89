// The power function, for one double and for lanes.
//
// On lanes it is the algorithm of the Arm Optimized Routines `pow` (the scalar `pow` of
// glibc since 2.28, and of musl), step for step: the same tables, the same operations in
// the same order, fused multiply-adds exactly where the library's own build for processors
// with FMA has them and nowhere on processors without. Every lane therefore gets the bits
// that the scalar `pow` gives, whatever its neighbours. Lanes that the scalar routine
// treats as special cases (x not a positive normal number; |y| tiny, huge or not finite;
// results near overflow or underflow; exponent arguments below 2^-54) are handed to the
// scalar `pow` itself. Compiled with VENTAROXI_POW_PER_ELEMENT, the power on lanes is the
// scalar `pow` of each lane instead.
//
// The steps are written once for one vector (Lanes) and for several side by side
// (Interleaved<Lanes, k>, see interleaved.hpp). Only what the steps do besides arithmetic
// (reading the tables, fused multiply-adds, the scalar fallback) is written per vector.
// The integer steps are chosen for few operations: the index of a table entry is formed as
// its byte offset, the exponent of x becomes a double with no sign extension (an xor and a
// subtraction), and each range test of the scalar routine is one signed compare.
#pragma once

#include "interleaved.hpp"
#include "lanes.hpp"
#include "power_tables.hpp"

#include <cmath>
#include <cstdint>
#include <utility>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

inline double pow(double base, double exponent) { return std::pow(base, exponent); }

namespace power_detail {

using Bits = BitLanes;
using SignedBits = IntegerLanes;

inline Bits bits_of(Lanes x) { return __builtin_bit_cast(Bits, x); }
inline Lanes double_of(Bits bits) { return __builtin_bit_cast(Lanes, bits); }
inline SignedBits signed_of(Bits bits) { return __builtin_bit_cast(SignedBits, bits); }

template <int k>
inline Interleaved<Bits, k> bits_of(const Interleaved<Lanes, k>& x)
{
    return each([](Lanes v) { return bits_of(v); }, x);
}
template <int k>
inline Interleaved<Lanes, k> double_of(const Interleaved<Bits, k>& bits)
{
    return each([](Bits v) { return double_of(v); }, bits);
}
template <int k>
inline Interleaved<SignedBits, k> signed_of(const Interleaved<Bits, k>& bits)
{
    return each([](Bits v) { return signed_of(v); }, bits);
}

// Whether this compilation reproduces the library's build for processors with FMA: where the
// processor fuses, unless VENTAROXI_POW_FUSED says otherwise (0 or 1; the tests build both
// variants on any processor, the fused one then through the C library's exact fma).
// GCC says that the processor fuses with __FP_FAST_FMA; clang never defines it, and names
// the instructions instead (__FMA__ on x86-64, __ARM_FEATURE_FMA on Arm).
#if defined(VENTAROXI_POW_FUSED)
inline constexpr bool fused_variant = VENTAROXI_POW_FUSED != 0;
#elif defined(__FP_FAST_FMA) || defined(__FMA__) || defined(__ARM_FEATURE_FMA)
inline constexpr bool fused_variant = true;
#else
inline constexpr bool fused_variant = false;
#endif

// The steps that are not plain arithmetic (the fused multiply-add, reading the tables) are
// written for one vector, with a branch per register width (VENTAROXI_LANE_REGISTER, see
// lanes.hpp) and lane-by-lane loops where the lanes fill none.

// a*b + c rounded once; called only where fused_variant holds.
inline Lanes fused(Lanes a, Lanes b, Lanes c)
{
#if VENTAROXI_LANE_REGISTER == 512
    return _mm512_fmadd_pd(a, b, c);
#elif VENTAROXI_LANE_REGISTER == 256 && defined(__FMA__)
    return _mm256_fmadd_pd(a, b, c);
#else
    for (int lane = 0; lane < lane_count; ++lane) {
        a[lane] = __builtin_fma(a[lane], b[lane], c[lane]);
    }
    return a;
#endif
}

template <int k>
inline Interleaved<Lanes, k> fused(const Interleaved<Lanes, k>& a, const Interleaved<Lanes, k>& b,
                                   const Interleaved<Lanes, k>& c)
{
    return each([](Lanes x, Lanes y, Lanes z) { return fused(x, y, z); }, a, b, c);
}

// The three used fields of the log-table entries of each lane.
template <class Real>
struct LogEntries {
    Real invc;
    Real logc;
    Real logctail;
};

// The tail and scale bits of the exp-table pairs of each lane.
template <class Real, class Unsigned>
struct ExpEntries {
    Real tail;
    Unsigned scale_bits;
};

// Table entries are found by their offset in bytes, which the steps below form directly
// (a shift and a mask, no multiplication). Whole entries are loaded and transposed, not
// gathered field by field: on AMD Zen 4 a 4-lane gather measured 5.5 cycles and an 8-lane
// one 13.5, and each power needs five.
inline const double* log_entry(Bits offset, int lane)
{
    return reinterpret_cast<const double*>(reinterpret_cast<const char*>(power_tables::log_table) +
                                           offset[lane]);
}

inline const double* exp_pair(Bits offset, int lane)
{
    return reinterpret_cast<const double*>(reinterpret_cast<const char*>(power_tables::exp_table) +
                                           offset[lane]);
}

inline LogEntries<Lanes> load_log_entries(Bits offset)
{
#if VENTAROXI_LANE_REGISTER == 512
    // GCC's generic shuffles, not the AVX-512 intrinsics: GCC 12 reports the intrinsics'
    // undefined source operand as an uninitialised variable.
    using Entry = double __attribute__((vector_size(32)));
    const auto entry = [&](int lane) {
        return *reinterpret_cast<const Entry*>(log_entry(offset, lane));
    };
    // Entries j and j + 4 side by side, each invc, pad, logc, logctail.
    const auto entries = [&](int j) {
        return __builtin_shufflevector(entry(j), entry(j + 4), 0, 1, 2, 3, 4, 5, 6, 7);
    };
    const Lanes entries04 = entries(0);
    const Lanes entries15 = entries(1);
    const Lanes entries26 = entries(2);
    const Lanes entries37 = entries(3);
    // invc and logc of lanes 0 1 4 5, then pad and logctail; likewise of 2 3 6 7.
    const Lanes low01 = __builtin_shufflevector(entries04, entries15, 0, 8, 2, 10, 4, 12, 6, 14);
    const Lanes high01 = __builtin_shufflevector(entries04, entries15, 1, 9, 3, 11, 5, 13, 7, 15);
    const Lanes low23 = __builtin_shufflevector(entries26, entries37, 0, 8, 2, 10, 4, 12, 6, 14);
    const Lanes high23 = __builtin_shufflevector(entries26, entries37, 1, 9, 3, 11, 5, 13, 7, 15);
    return {__builtin_shufflevector(low01, low23, 0, 1, 8, 9, 4, 5, 12, 13),
            __builtin_shufflevector(low01, low23, 2, 3, 10, 11, 6, 7, 14, 15),
            __builtin_shufflevector(high01, high23, 2, 3, 10, 11, 6, 7, 14, 15)};
#elif VENTAROXI_LANE_REGISTER == 256
    const __m256d row0 = _mm256_load_pd(log_entry(offset, 0));
    const __m256d row1 = _mm256_load_pd(log_entry(offset, 1));
    const __m256d row2 = _mm256_load_pd(log_entry(offset, 2));
    const __m256d row3 = _mm256_load_pd(log_entry(offset, 3));
    const __m256d low01 = _mm256_unpacklo_pd(row0, row1);   // invc, invc, logc, logc
    const __m256d high01 = _mm256_unpackhi_pd(row0, row1);  // pad, pad, logctail, logctail
    const __m256d low23 = _mm256_unpacklo_pd(row2, row3);
    const __m256d high23 = _mm256_unpackhi_pd(row2, row3);
    return {_mm256_permute2f128_pd(low01, low23, 0x20), _mm256_permute2f128_pd(low01, low23, 0x31),
            _mm256_permute2f128_pd(high01, high23, 0x31)};
#else
    LogEntries<Lanes> entries;
    for (int lane = 0; lane < lane_count; ++lane) {
        const double* entry = log_entry(offset, lane);
        entries.invc[lane] = entry[0];
        entries.logc[lane] = entry[2];
        entries.logctail[lane] = entry[3];
    }
    return entries;
#endif
}

inline ExpEntries<Lanes, Bits> load_exp_entries(Bits offset)
{
#if VENTAROXI_LANE_REGISTER == 512
    using Pair = double __attribute__((vector_size(16)));
    const auto pair = [&](int lane) {
        return *reinterpret_cast<const Pair*>(exp_pair(offset, lane));
    };
    // The pairs of lanes first, first + 2, first + 4 and first + 6.
    const auto pairs = [&](int first) {
        return __builtin_shufflevector(
            __builtin_shufflevector(pair(first), pair(first + 2), 0, 1, 2, 3),
            __builtin_shufflevector(pair(first + 4), pair(first + 6), 0, 1, 2, 3), 0, 1, 2, 3, 4, 5,
            6, 7);
    };
    const Lanes even = pairs(0);
    const Lanes odd = pairs(1);
    return {__builtin_shufflevector(even, odd, 0, 8, 2, 10, 4, 12, 6, 14),
            bits_of(__builtin_shufflevector(even, odd, 1, 9, 3, 11, 5, 13, 7, 15))};
#elif VENTAROXI_LANE_REGISTER == 256
    const __m256d pairs02 =
        _mm256_set_m128d(_mm_load_pd(exp_pair(offset, 2)), _mm_load_pd(exp_pair(offset, 0)));
    const __m256d pairs13 =
        _mm256_set_m128d(_mm_load_pd(exp_pair(offset, 3)), _mm_load_pd(exp_pair(offset, 1)));
    return {_mm256_unpacklo_pd(pairs02, pairs13), bits_of(_mm256_unpackhi_pd(pairs02, pairs13))};
#else
    ExpEntries<Lanes, Bits> entries;
    for (int lane = 0; lane < lane_count; ++lane) {
        const double* pair = exp_pair(offset, lane);
        entries.tail[lane] = pair[0];
        entries.scale_bits[lane] = __builtin_bit_cast(std::uint64_t, pair[1]);
    }
    return entries;
#endif
}

template <int k>
inline LogEntries<Interleaved<Lanes, k>> load_log_entries(const Interleaved<Bits, k>& offset)
{
    LogEntries<Interleaved<Lanes, k>> entries;
    for (int j = 0; j < k; ++j) {
        const LogEntries<Lanes> one = load_log_entries(offset.vector[j]);
        entries.invc.vector[j] = one.invc;
        entries.logc.vector[j] = one.logc;
        entries.logctail.vector[j] = one.logctail;
    }
    return entries;
}

template <int k>
inline ExpEntries<Interleaved<Lanes, k>, Interleaved<Bits, k>>
load_exp_entries(const Interleaved<Bits, k>& offset)
{
    ExpEntries<Interleaved<Lanes, k>, Interleaved<Bits, k>> entries;
    for (int j = 0; j < k; ++j) {
        const ExpEntries<Lanes, Bits> one = load_exp_entries(offset.vector[j]);
        entries.tail.vector[j] = one.tail;
        entries.scale_bits.vector[j] = one.scale_bits;
    }
    return entries;
}

// Whether the bits of each lane, read as an unsigned number, lie in [low, high). The
// processor compares signed numbers only: with low subtracted and the sign bit flipped (one
// addition), the unsigned order is the signed one.
inline Mask bits_within(Bits bits, std::uint64_t low, std::uint64_t high)
{
#if defined(__x86_64__) && !defined(__SSE4_2__)
    // Without a 64-bit compare (SSE2 only), which the compiler would do lane by lane in
    // general registers: the bounds here are multiples of 2^32, so the high halves decide,
    // compared as 32-bit numbers with each high half in both halves of its lane.
    using Halves = std::int32_t __attribute__((vector_size(sizeof(Bits))));
    using UnsignedHalves = std::uint32_t __attribute__((vector_size(sizeof(Bits))));
    constexpr std::uint32_t sign = std::uint32_t{1} << 31;
    const auto low_high = static_cast<std::uint32_t>(low >> 32);
    const auto high_high = static_cast<std::uint32_t>(high >> 32);
    const auto halves = __builtin_bit_cast(UnsignedHalves, bits);
    const UnsignedHalves high_halves = [&]<std::size_t... i>(std::index_sequence<i...>) {
        return __builtin_shufflevector(halves, halves, (2 * (i / 2) + 1)...);
    }(std::make_index_sequence<std::size_t{2} * lane_count>{});
    const auto within = static_cast<std::int32_t>(high_high - low_high + sign) >
        __builtin_bit_cast(Halves, high_halves + (sign - low_high));
    return __builtin_bit_cast(Mask, within);
#else
    constexpr std::uint64_t sign = std::uint64_t{1} << 63;
    return static_cast<std::int64_t>(high - low + sign) > signed_of(bits + (sign - low));
#endif
}

template <int k>
inline Interleaved<Mask, k> bits_within(const Interleaved<Bits, k>& bits, std::uint64_t low,
                                        std::uint64_t high)
{
    return each([=](Bits one) { return bits_within(one, low, high); }, bits);
}

inline constexpr std::uint64_t magnitude = ~(std::uint64_t{1} << 63);

inline constexpr std::uint64_t log_offset = 0x3fe6955500000000;
inline constexpr double ln2hi = 0x1.62e42fefa3800p-1;
inline constexpr double ln2lo = 0x1.ef35793c76730p-45;
// log1p(r) - r + r^2/2, its coefficients scaled as the evaluation below expects.
inline constexpr double A0 = -0x1p-1;
inline constexpr double A1 = 0x1.555555555556p-2 * -2;
inline constexpr double A2 = -0x1.0000000000006p-2 * -2;
inline constexpr double A3 = 0x1.999999959554ep-3 * 4;
inline constexpr double A4 = -0x1.555555529a47ap-3 * 4;
inline constexpr double A5 = 0x1.2495b9b4845e9p-3 * -8;
inline constexpr double A6 = -0x1.0002b8b263fc3p-3 * -8;

inline constexpr double inv_ln2_n = 0x1.71547652b82fep0 * 128;
inline constexpr double neg_ln2_hi_n = -0x1.62e42fefa0000p-8;
inline constexpr double neg_ln2_lo_n = -0x1.cf79abc9e3b3ap-47;
inline constexpr double round_shift = 0x1.8p52;
inline constexpr double C2 = 0x1.ffffffffffdbdp-2;
inline constexpr double C3 = 0x1.555555555543cp-3;
inline constexpr double C4 = 0x1.55555cf172b91p-5;
inline constexpr double C5 = 0x1.1111167a4d017p-7;

// The exponent k of x, a 12-bit two's complement field, as a double: with its sign bit
// flipped the field is k + 2048, which the mantissa of 1.5*2^52 + 2048 takes exactly.
inline constexpr double exponent_shift = 0x1.8p52 + 2048;
inline constexpr std::uint64_t exponent_shift_bits = 0x4338000000000800;
static_assert(__builtin_bit_cast(std::uint64_t, exponent_shift) == exponent_shift_bits);

// log(x) as head + tail, the tail carrying about 15 bits more; x a positive normal number.
template <class Real, class Unsigned>
[[gnu::always_inline]] inline Real log_with_tail(const Unsigned& ix, Real& tail)
{
    using namespace power_tables;
    const Unsigned tmp = ix - log_offset;
    // The entry (tmp >> 45) % 128, as a byte offset: times the 32 bytes of an entry.
    static_assert(sizeof(LogEntry) == 32);
    const Unsigned entry_offset = (tmp >> (52 - log_table_bits - 5)) & ((log_table_size - 1) << 5);
    const Unsigned iz = ix - (tmp & (std::uint64_t{0xfff} << 52));
    const Real z = double_of(iz);
    const Real kd = double_of((tmp >> 52) ^ exponent_shift_bits) - exponent_shift;
    const auto [invc, logc, logctail] = load_log_entries(entry_offset);

    Real r;
    Real rhi;
    Real rlo;
    if constexpr (fused_variant) {
        r = fused(z, invc, Real{} - 1.0);
    } else {
        // z split so that rhi, rlo and rhi*rhi are exact.
        const Real zhi = double_of((iz + (std::uint64_t{1} << 31)) & (~std::uint64_t{0} << 32));
        const Real zlo = z - zhi;
        rhi = zhi * invc - 1.0;
        rlo = zlo * invc;
        r = rhi + rlo;
    }
    const Real t1 = fused_variant ? fused(kd, Real{} + ln2hi, logc) : kd * ln2hi + logc;
    const Real t2 = t1 + r;
    const Real lo1 = fused_variant ? fused(kd, Real{} + ln2lo, logctail) : kd * ln2lo + logctail;
    const Real lo2 = t1 - t2 + r;
    const Real ar = A0 * r;
    const Real ar2 = r * ar;
    const Real ar3 = r * ar2;
    Real hi;
    Real lo;
    if constexpr (fused_variant) {
        hi = t2 + ar2;
        const Real lo3 = fused(ar, r, -ar2);
        const Real lo4 = t2 - hi + ar2;
        const Real inner =
            fused(ar2, fused(r, Real{} + A6, Real{} + A5), fused(r, Real{} + A4, Real{} + A3));
        const Real outer = fused(ar2, inner, fused(r, Real{} + A2, Real{} + A1));
        lo = fused(ar3, outer, lo1 + lo2 + lo3 + lo4);
    } else {
        const Real arhi = A0 * rhi;
        const Real arhi2 = rhi * arhi;
        hi = t2 + arhi2;
        const Real lo3 = rlo * (ar + arhi);
        const Real lo4 = t2 - hi + arhi2;
        const Real p = ar3 * (A1 + r * A2 + ar2 * (A3 + r * A4 + ar2 * (A5 + r * A6)));
        lo = lo1 + lo2 + lo3 + lo4 + p;
    }
    const Real head = hi + lo;
    tail = hi - head + lo;
    return head;
}

// exp(x + xtail) for |x| in [2^-54, 512).
template <class Real>
[[gnu::always_inline]] inline Real exp_with_tail(const Real& x, const Real& xtail)
{
    using namespace power_tables;
    const Real shifted = fused_variant ? fused(Real{} + inv_ln2_n, x, Real{} + round_shift)
                                       : inv_ln2_n * x + round_shift;
    const auto ki = bits_of(shifted);
    const Real kd = shifted - round_shift;
    Real r = fused_variant ? fused(kd, Real{} + neg_ln2_lo_n, fused(kd, Real{} + neg_ln2_hi_n, x))
                           : x + kd * neg_ln2_hi_n + kd * neg_ln2_lo_n;
    r += xtail;
    // The pair ki % 128, as a byte offset: times the 16 bytes of a pair.
    const auto pair_offset = (ki << 4) & ((exp_table_size - 1) << 4);
    const auto top = ki << (52 - exp_table_bits);
    const auto [tail, scale_bits] = load_exp_entries(pair_offset);
    const auto sbits = scale_bits + top;
    const Real r2 = r * r;
    const Real tmp = fused_variant ? fused(r2 * r2, fused(r, Real{} + C5, Real{} + C4),
                                           fused(r2, fused(r, Real{} + C3, Real{} + C2), tail + r))
                                   : tail + r + r2 * (C2 + r * C3) + r2 * r2 * (C4 + r * C5);
    const Real scale = double_of(sbits);
    return fused_variant ? fused(scale, tmp, scale) : scale + scale * tmp;
}

// The lanes where the scalar routine takes its main path are `ordinary`; the others get
// the scalar pow itself.
inline void scalar_where_special(Mask ordinary, Lanes x, Lanes y, Lanes& result)
{
    if (!all(ordinary)) [[unlikely]] {
        for (int lane = 0; lane < lane_count; ++lane) {
            if (ordinary[lane] == 0) {
                result[lane] = std::pow(x[lane], y[lane]);
            }
        }
    }
}

template <int k>
inline void scalar_where_special(const Interleaved<Mask, k>& ordinary,
                                 const Interleaved<Lanes, k>& x, const Interleaved<Lanes, k>& y,
                                 Interleaved<Lanes, k>& result)
{
    for (int j = 0; j < k; ++j) {
        scalar_where_special(ordinary.vector[j], x.vector[j], y.vector[j], result.vector[j]);
    }
}

// The logarithm of a base as the power forms it, the same whatever the exponent, and where
// the base takes the routine's main path (a positive normal number).
template <class Real, class Ordinary>
struct BaseLogarithm {
    Real head;
    Real tail;
    Ordinary ordinary_base;
};

template <class Real>
[[gnu::always_inline]] inline auto logarithm_of_base(const Real& x)
{
    const auto ix = bits_of(x);
    Real tail;
    const Real head = log_with_tail(ix, tail);
    const auto ordinary_base = bits_within(ix, 0x0010000000000000, 0x7ff0000000000000);
    return BaseLogarithm<Real, decltype(ordinary_base)>{head, tail, ordinary_base};
}

// x^y from the logarithm of x.
template <class Real, class Ordinary>
[[gnu::always_inline]] inline Real raise(const Real& x, const BaseLogarithm<Real, Ordinary>& log,
                                         const Real& y)
{
    const auto iy = bits_of(y);
    // 2^-65 <= |y| < 2^63.
    const auto ordinary_input =
        log.ordinary_base & bits_within(iy & magnitude, 0x3be0000000000000, 0x43e0000000000000);
    Real ehi;
    Real elo;
    if constexpr (fused_variant) {
        ehi = y * log.head;
        elo = fused(y, log.tail, fused(y, log.head, -ehi));
    } else {
        const Real yhi = double_of(iy & (~std::uint64_t{0} << 27));
        const Real ylo = y - yhi;
        const Real lhi = double_of(bits_of(log.head) & (~std::uint64_t{0} << 27));
        const Real llo = log.head - lhi + log.tail;
        ehi = yhi * lhi;
        elo = ylo * lhi + y * llo;
    }
    // 2^-54 <= |ehi| < 512.
    const auto ordinary_exponent =
        bits_within(bits_of(ehi) & magnitude, 0x3c90000000000000, 0x4080000000000000);

    Real result = exp_with_tail(ehi, elo);
    scalar_where_special(ordinary_input & ordinary_exponent, x, y, result);
    return result;
}

template <class Real>
[[gnu::always_inline]] inline Real power(const Real& x, const Real& y)
{
    return raise(x, logarithm_of_base(x), y);
}

}  // namespace power_detail

#if defined(VENTAROXI_POW_PER_ELEMENT)
// The kernel set for a platform whose pow no lane algorithm reproduces: the platform's pow,
// one element at a time.
inline Lanes pow(Lanes x, Lanes y)
{
    for (int lane = 0; lane < lane_count; ++lane) {
        x[lane] = std::pow(x[lane], y[lane]);
    }
    return x;
}

template <int k>
inline Interleaved<Lanes, k> pow(const Interleaved<Lanes, k>& x, double exponent)
{
    return each([exponent](Lanes v) { return pow(v, Lanes{} + exponent); }, x);
}
#else
// Inlined into every relation, so that the relation's own steps and the power's overlap.
[[gnu::always_inline]] inline Lanes pow(Lanes x, Lanes y) { return power_detail::power(x, y); }

template <int k>
[[gnu::always_inline]] inline Interleaved<Lanes, k> pow(const Interleaved<Lanes, k>& x,
                                                        double exponent)
{
    return power_detail::power(x, Interleaved<Lanes, k>{} + exponent);
}
#endif

// Exponents are per-call constants; the lanes want them in every lane.
[[gnu::always_inline]] inline Lanes pow(Lanes base, double exponent)
{
    return pow(base, Lanes{} + exponent);
}

// x^a and x^b, with the bits of pow(x, a) and pow(x, b). pow forms the logarithm of x the
// same way whatever the exponent, so on lanes the two powers share it: the second costs
// about half of the first.
template <class Real>
struct TwoPowers {
    Real first;
    Real second;
};

inline TwoPowers<double> two_powers(double x, double a, double b)
{
    return {std::pow(x, a), std::pow(x, b)};
}

template <class Real>
[[gnu::always_inline]] inline TwoPowers<Real> two_powers(const Real& x, double a, double b)
{
#if defined(VENTAROXI_POW_PER_ELEMENT)
    return {pow(x, a), pow(x, b)};
#else
    const auto log = power_detail::logarithm_of_base(x);
    return {power_detail::raise(x, log, Real{} + a), power_detail::raise(x, log, Real{} + b)};
#endif
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
