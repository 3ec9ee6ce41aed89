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
#pragma once

#include "lanes.hpp"
#include "power_tables.hpp"

#include <cmath>
#include <cstdint>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

inline double pow(double base, double exponent) { return std::pow(base, exponent); }

namespace power_detail {

using Bits = BitLanes;
using SignedBits = IntegerLanes;

inline Bits bits_of(Lanes x) { return __builtin_bit_cast(Bits, x); }
inline Lanes double_of(Bits bits) { return __builtin_bit_cast(Lanes, bits); }

// Whether this compilation reproduces the library's build for processors with FMA: where the
// processor fuses, unless VENTAROXI_POW_FUSED says otherwise (0 or 1; the tests build both
// variants on any processor, the fused one then through the C library's exact fma).
#if defined(VENTAROXI_POW_FUSED)
inline constexpr bool fused_variant = VENTAROXI_POW_FUSED != 0;
#elif defined(__FP_FAST_FMA)
inline constexpr bool fused_variant = true;
#else
inline constexpr bool fused_variant = false;
#endif

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

// The three used fields of the log-table entries of each lane.
struct LogEntries {
    Lanes invc;
    Lanes logc;
    Lanes logctail;
};

// The tail and scale bits of the exp-table pairs of each lane.
struct ExpEntries {
    Lanes tail;
    Bits scale_bits;
};

#if VENTAROXI_LANE_REGISTER == 256
// Whole entries are loaded and transposed, which is cheaper than a gather per field.
inline LogEntries load_log_entries(Bits index)
{
    const double* table = &power_tables::log_table[0].invc;
    const __m256d row0 = _mm256_load_pd(table + 4 * index[0]);
    const __m256d row1 = _mm256_load_pd(table + 4 * index[1]);
    const __m256d row2 = _mm256_load_pd(table + 4 * index[2]);
    const __m256d row3 = _mm256_load_pd(table + 4 * index[3]);
    const __m256d low01 = _mm256_unpacklo_pd(row0, row1);   // invc, invc, logc, logc
    const __m256d high01 = _mm256_unpackhi_pd(row0, row1);  // pad, pad, logctail, logctail
    const __m256d low23 = _mm256_unpacklo_pd(row2, row3);
    const __m256d high23 = _mm256_unpackhi_pd(row2, row3);
    return {_mm256_permute2f128_pd(low01, low23, 0x20), _mm256_permute2f128_pd(low01, low23, 0x31),
            _mm256_permute2f128_pd(high01, high23, 0x31)};
}

inline ExpEntries load_exp_entries(Bits index)
{
    const double* table = reinterpret_cast<const double*>(power_tables::exp_table);
    const __m256d pairs02 =
        _mm256_set_m128d(_mm_load_pd(table + index[2]), _mm_load_pd(table + index[0]));
    const __m256d pairs13 =
        _mm256_set_m128d(_mm_load_pd(table + index[3]), _mm_load_pd(table + index[1]));
    return {_mm256_unpacklo_pd(pairs02, pairs13), bits_of(_mm256_unpackhi_pd(pairs02, pairs13))};
}
#else
inline LogEntries load_log_entries(Bits index)
{
    LogEntries entries;
    for (int lane = 0; lane < lane_count; ++lane) {
        const power_tables::LogEntry& entry = power_tables::log_table[index[lane]];
        entries.invc[lane] = entry.invc;
        entries.logc[lane] = entry.logc;
        entries.logctail[lane] = entry.logctail;
    }
    return entries;
}

inline ExpEntries load_exp_entries(Bits index)
{
    ExpEntries entries;
    for (int lane = 0; lane < lane_count; ++lane) {
        entries.tail[lane] = __builtin_bit_cast(double, power_tables::exp_table[index[lane]]);
        entries.scale_bits[lane] = power_tables::exp_table[index[lane] + 1];
    }
    return entries;
}
#endif

// Exact for the exponents of doubles: the integer is added into the mantissa of 1.5*2^52.
inline Lanes small_integer_to_double(SignedBits k)
{
    constexpr double magic = 0x1.8p52;
    const Lanes magic_lanes = Lanes{} + magic;
    return double_of(bits_of(magic_lanes) + __builtin_bit_cast(Bits, k)) - magic;
}

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

// log(x) as head + tail, the tail carrying about 15 bits more; x a positive normal number.
inline Lanes log_with_tail(Bits ix, Lanes& tail)
{
    using namespace power_tables;
    const Bits tmp = ix - log_offset;
    const Bits entry = (tmp >> (52 - log_table_bits)) % log_table_size;
    const SignedBits k = __builtin_bit_cast(SignedBits, tmp) >> 52;
    const Bits iz = ix - (tmp & (Bits{} + (std::uint64_t{0xfff} << 52)));
    const Lanes z = double_of(iz);
    const Lanes kd = small_integer_to_double(k);
    const auto [invc, logc, logctail] = load_log_entries(entry);

    Lanes r;
    Lanes rhi;
    Lanes rlo;
    if constexpr (fused_variant) {
        r = fused(z, invc, Lanes{} - 1.0);
    } else {
        // z split so that rhi, rlo and rhi*rhi are exact.
        const Lanes zhi = double_of((iz + (std::uint64_t{1} << 31)) & (~std::uint64_t{0} << 32));
        const Lanes zlo = z - zhi;
        rhi = zhi * invc - 1.0;
        rlo = zlo * invc;
        r = rhi + rlo;
    }
    const Lanes t1 = fused_variant ? fused(kd, Lanes{} + ln2hi, logc) : kd * ln2hi + logc;
    const Lanes t2 = t1 + r;
    const Lanes lo1 = fused_variant ? fused(kd, Lanes{} + ln2lo, logctail) : kd * ln2lo + logctail;
    const Lanes lo2 = t1 - t2 + r;
    const Lanes ar = A0 * r;
    const Lanes ar2 = r * ar;
    const Lanes ar3 = r * ar2;
    Lanes hi;
    Lanes lo;
    if constexpr (fused_variant) {
        hi = t2 + ar2;
        const Lanes lo3 = fused(ar, r, -ar2);
        const Lanes lo4 = t2 - hi + ar2;
        const Lanes inner =
            fused(ar2, fused(r, Lanes{} + A6, Lanes{} + A5), fused(r, Lanes{} + A4, Lanes{} + A3));
        const Lanes outer = fused(ar2, inner, fused(r, Lanes{} + A2, Lanes{} + A1));
        lo = fused(ar3, outer, lo1 + lo2 + lo3 + lo4);
    } else {
        const Lanes arhi = A0 * rhi;
        const Lanes arhi2 = rhi * arhi;
        hi = t2 + arhi2;
        const Lanes lo3 = rlo * (ar + arhi);
        const Lanes lo4 = t2 - hi + arhi2;
        const Lanes p = ar3 * (A1 + r * A2 + ar2 * (A3 + r * A4 + ar2 * (A5 + r * A6)));
        lo = lo1 + lo2 + lo3 + lo4 + p;
    }
    const Lanes head = hi + lo;
    tail = hi - head + lo;
    return head;
}

// exp(x + xtail) for |x| in [2^-54, 512).
inline Lanes exp_with_tail(Lanes x, Lanes xtail)
{
    using namespace power_tables;
    const Lanes shifted = fused_variant ? fused(Lanes{} + inv_ln2_n, x, Lanes{} + round_shift)
                                        : inv_ln2_n * x + round_shift;
    const Bits ki = bits_of(shifted);
    const Lanes kd = shifted - round_shift;
    Lanes r = fused_variant
        ? fused(kd, Lanes{} + neg_ln2_lo_n, fused(kd, Lanes{} + neg_ln2_hi_n, x))
        : x + kd * neg_ln2_hi_n + kd * neg_ln2_lo_n;
    r += xtail;
    const Bits idx = 2 * (ki % exp_table_size);
    const Bits top = ki << (52 - exp_table_bits);
    const ExpEntries entries = load_exp_entries(idx);
    const Lanes tail = entries.tail;
    const Bits sbits = entries.scale_bits + top;
    const Lanes r2 = r * r;
    const Lanes tmp = fused_variant
        ? fused(r2 * r2, fused(r, Lanes{} + C5, Lanes{} + C4),
                fused(r2, fused(r, Lanes{} + C3, Lanes{} + C2), tail + r))
        : tail + r + r2 * (C2 + r * C3) + r2 * r2 * (C4 + r * C5);
    const Lanes scale = double_of(sbits);
    return fused_variant ? fused(scale, tmp, scale) : scale + scale * tmp;
}

inline Bits top12(Bits bits) { return bits >> 52; }

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
#else
inline Lanes pow(Lanes x, Lanes y)
{
    using namespace power_detail;
    const Bits ix = bits_of(x);
    const Bits iy = bits_of(y);
    const Bits topx = top12(ix);
    const Bits topy = top12(iy) & 0x7ff;
    // Unsigned wrap-around folds each two-sided range test into one compare, as the scalar
    // routine does.
    const auto special_input = (topx - 0x001 >= 0x7ff - 0x001) | (topy - 0x3be >= 0x43e - 0x3be);

    Lanes log_tail;
    const Lanes log_head = log_with_tail(ix, log_tail);
    Lanes ehi;
    Lanes elo;
    if constexpr (fused_variant) {
        ehi = y * log_head;
        elo = fused(y, log_tail, fused(y, log_head, -ehi));
    } else {
        const Lanes yhi = double_of(iy & (~std::uint64_t{0} << 27));
        const Lanes ylo = y - yhi;
        const Lanes lhi = double_of(bits_of(log_head) & (~std::uint64_t{0} << 27));
        const Lanes llo = log_head - lhi + log_tail;
        ehi = yhi * lhi;
        elo = ylo * lhi + y * llo;
    }
    const Bits abstop = top12(bits_of(ehi)) & 0x7ff;
    const auto special_exponent = abstop - 0x3c9 >= 0x408 - 0x3c9;  // |ehi| outside [2^-54, 512)

    Lanes result = exp_with_tail(ehi, elo);
    const Mask special = special_input | special_exponent;
    if (any(special)) [[unlikely]] {
        for (int lane = 0; lane < lane_count; ++lane) {
            if (special[lane] != 0) {
                result[lane] = std::pow(x[lane], y[lane]);
            }
        }
    }
    return result;
}
#endif

// Exponents are per-call constants; the lanes want them in every lane.
inline Lanes pow(Lanes base, double exponent) { return pow(base, Lanes{} + exponent); }

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
