// The bisection search of the area-ratio inverse, one element at a time and on lanes.
//
// The forward relation takes every value above 1 twice, once on [0, 1] and once above 1;
// `sup` chooses the bracket. Only an exact match stops the search before its bracket
// stops moving, so the result is the point where the bisection settles, with no tolerance.
#pragma once

#include "lanes.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

inline constexpr std::uint32_t area_ratio_passes = 10000;

struct AreaRatioBracket {
    double lo;
    double hi;
};

// Supersonic: [1, largest double]; subsonic: [0, 1]. The first midpoint of each is
// (lo + hi)*0.5, like every later one.
inline AreaRatioBracket area_ratio_bracket(bool sup)
{
    return sup ? AreaRatioBracket{1, std::numeric_limits<double>::max()} : AreaRatioBracket{0, 1};
}

inline bool same_bits(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Bisects for `t` with `area` the forward relation, for at most area_ratio_passes passes.
//
// A pass is a function of the bracket alone: its midpoint, the value there and the
// comparison all follow from (lo, hi). So once a pass leaves both bounds as they were,
// bit for bit, every later pass repeats it, and the midpoint in hand is exactly what
// running every pass would return. That holds whatever stalls the search: bounds closed
// to adjacent doubles, whose midpoint rounds onto one of them, or a value that does not
// compare with the target (NaN), which moves neither bound. An element then costs at most
// about 1080 evaluations on either bracket instead of 10000.
template <class Area>
double search_area_ratio(const Area& area, double t, bool sup)
{
    AreaRatioBracket bracket = area_ratio_bracket(sup);
    double x = (bracket.lo + bracket.hi) * 0.5;
    for (std::uint32_t pass = 0; pass < area_ratio_passes; ++pass) {
        const double v = area(x);
        if (t == v) {
            return x;
        }
        const AreaRatioBracket before = bracket;
        // Supersonic values rise with the Mach number, subsonic ones fall.
        if (t > v) {
            (sup ? bracket.lo : bracket.hi) = x;
        } else if (t < v) {
            (sup ? bracket.hi : bracket.lo) = x;
        }
        x = (bracket.lo + bracket.hi) * 0.5;
        if (same_bits(bracket.lo, before.lo) && same_bits(bracket.hi, before.hi)) {
            break;
        }
    }
    return x;
}

// The opening passes that targets share. From the first bracket, every target beyond some
// threshold takes the same outcome pass after pass: the upper bound moves down to the
// midpoint (supersonic: the target lies below the value there; subsonic: above it) while
// the lower bound stays. The midpoints of that common path, and the values there, depend
// on ga alone; on the supersonic bracket they fill the first thousand or so passes, while
// the midpoint halves its way down from the largest double. They are evaluated once per
// call, and each target skips straight to the first pass whose outcome is its own.
class SharedPasses {
public:
    template <class Area>
    SharedPasses(const Area& area, bool sup) : sup_(sup), upper_start_(area_ratio_bracket(sup).hi)
    {
        const double lo = area_ratio_bracket(sup).lo;
        double hi = upper_start_;
        for (;;) {
            const double x = (lo + hi) * 0.5;
            midpoints_[length_++] = x;
            if (same_bits(x, hi) || length_ == capacity) {
                break;  // the upper bound no longer moves: the common path has settled
            }
            hi = x;
        }
        for (std::size_t k = 0; k < length_; k += lane_count) {
            double padded[lane_count];
            for (std::size_t lane = 0; lane < lane_count; ++lane) {
                padded[lane] = midpoints_[std::min(k + lane, length_ - 1)];
            }
            const Lanes values = area(load_lanes(padded));
            for (std::size_t lane = 0; lane < lane_count && k + lane < length_; ++lane) {
                bounds_[k + lane] = values[lane];
            }
        }
        // A value that fails to compare ends the common path as surely as one on the
        // target's side; the running extreme stands in for the whole prefix.
        const double unordered = sup ? -std::numeric_limits<double>::infinity()
                                     : std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k < length_; ++k) {
            const double value = std::isnan(bounds_[k]) ? unordered : bounds_[k];
            bounds_[k] = k == 0
                ? value
                : (sup ? std::min(bounds_[k - 1], value) : std::max(bounds_[k - 1], value));
        }
    }

    // The first pass whose outcome for `t` (not NaN) differs from the common one, or the
    // last pass of the common path when none does.
    std::size_t first_own_pass(double t) const
    {
        std::size_t low = 0;
        std::size_t high = length_ - 1;
        while (low < high) {
            const std::size_t middle = (low + high) / 2;
            if (takes_common_outcome(t, bounds_[middle])) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        return low;
    }

    double midpoint(std::size_t pass) const { return midpoints_[pass]; }
    double upper_bound_before(std::size_t pass) const
    {
        return pass == 0 ? upper_start_ : midpoints_[pass - 1];
    }

private:
    bool takes_common_outcome(double t, double bound) const { return sup_ ? t < bound : t > bound; }

    // The common paths do not depend on ga: 1078 passes on the supersonic bracket, 1076 on
    // the subsonic one.
    static constexpr std::size_t capacity = 1100;
    bool sup_;
    double upper_start_;
    std::size_t length_ = 0;
    std::array<double, capacity> midpoints_;
    std::array<double, capacity> bounds_;  // running min (supersonic) or max of the values
};

// The search on lanes, each lane from the first pass its target does not share, under
// exactly the rules of the search above: every lane ends on the bits it gets there.
template <class Area>
Lanes search_area_ratio(const Area& area, const SharedPasses& shared, Lanes t, bool sup,
                        Mask active)
{
    using Passes = Mask;
    Lanes lo = Lanes{} + area_ratio_bracket(sup).lo;
    Lanes hi;
    Lanes x;
    Passes pass;
    for (int lane = 0; lane < lane_count; ++lane) {
        const std::size_t first = active[lane] != 0 ? shared.first_own_pass(t[lane]) : 0;
        hi[lane] = shared.upper_bound_before(first);
        x[lane] = shared.midpoint(first);
        pass[lane] = static_cast<std::int64_t>(first);
    }
    Lanes result = x;
    Mask running = active;
    while (any(running)) {
        const Lanes v = area(x);
        const Mask hit = running & (t == v);
        result = select(hit, x, result);
        running &= ~hit;
        // Supersonic values rise with the Mach number, subsonic ones fall.
        const Mask above = t > v;
        const Mask below = t < v;
        const Lanes new_lo = select(running & (sup ? above : below), x, lo);
        const Lanes new_hi = select(running & (sup ? below : above), x, hi);
        const Lanes new_x = (new_lo + new_hi) * 0.5;
        pass -= running;  // a mask lane is -1 where it holds
        const Mask unmoved =
            (__builtin_bit_cast(Passes, new_lo) == __builtin_bit_cast(Passes, lo)) &
            (__builtin_bit_cast(Passes, new_hi) == __builtin_bit_cast(Passes, hi));
        const Mask settled = running & (unmoved | (pass >= area_ratio_passes));
        lo = new_lo;
        hi = new_hi;
        x = select(running, new_x, x);
        result = select(settled, new_x, result);
        running &= ~settled;
    }
    return result;
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
