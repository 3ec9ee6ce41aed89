// The bisection search of the area-ratio inverse, replayed pass by pass on lanes.
//
// The forward relation takes every value above 1 twice, once on [0, 1] and once above 1;
// `sup` chooses the bracket. Only an exact match stops the search before its bracket
// stops moving, so the result is the point where the bisection settles, with no tolerance.
//
// Each lane carries a window [a, b] outside which the outcome of a pass is known without
// evaluating the relation: a midpoint below a moves the lower bound, one above b the upper
// bound, on either bracket (area_ratio_window.hpp derives the windows and proves them).
// The relation is evaluated only at midpoints inside the window; a lane with no window
// (a = -inf, b = +inf) is searched exactly as the bisection is written.
#pragma once

#include "lanes.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

inline constexpr std::int64_t area_ratio_passes = 10000;

// Where a window says the comparison of the midpoint with the target comes out.
struct AreaRatioWindow {
    Lanes a;  // midpoints below a move the lower bound
    Lanes b;  // midpoints above b move the upper bound
};

// The state of each lane's bisection after `pass` passes.
struct AreaRatioBisection {
    Lanes lo;
    Lanes hi;
    Lanes x;  // the midpoint of the next pass, (lo + hi)*0.5
    IntegerLanes pass;
};

namespace area_ratio_detail {

// floor(log2 |x|) of a positive normal x, as an integer in each lane.
inline IntegerLanes exponent_of(Lanes x)
{
    return __builtin_bit_cast(IntegerLanes, (__builtin_bit_cast(BitLanes, x) >> 52) & 0x7ff) - 1023;
}

// 2^k for integers k in the normal range.
inline Lanes power_of_two(IntegerLanes k)
{
    return __builtin_bit_cast(Lanes, __builtin_bit_cast(BitLanes, k + 1023) << 52);
}

inline IntegerLanes clamp(IntegerLanes k, std::int64_t low, std::int64_t high)
{
    return k < low ? IntegerLanes{} + low : (k > high ? IntegerLanes{} + high : k);
}

// Whether the bracket [lo, hi] spans 2^w equally spaced doubles (w >= 1): lo not negative
// and every double in [lo, hi) of one binade (or, from 0, subnormal). Its midpoints are then exact, pass after pass,
// and the path of a bisection through it is read off the bits of the window's ends.
inline Mask is_dyadic(Lanes lo, Lanes hi)
{
    const BitLanes low = __builtin_bit_cast(BitLanes, lo);
    const BitLanes high = __builtin_bit_cast(BitLanes, hi);
    const BitLanes width = high - low;
    return __builtin_bit_cast(Mask,
                              ((width & (width - 1)) == 0) & (width >= 2) &
                                  (((high - 1) >> 52) == (low >> 52))) &
        (lo >= 0);
}

// floor(log2 v) of integers 1 <= v <= 2^52, each made an exact double by the 2^52 shift.
inline IntegerLanes log2_floor(IntegerLanes v)
{
    const Lanes exact =
        __builtin_bit_cast(Lanes, __builtin_bit_cast(BitLanes, v) | 0x4330000000000000) - 0x1p52;
    return exponent_of(exact);
}

// Moves each lane in `which`, whose bracket is dyadic, straight to the first pass whose
// midpoint lies inside its window. In units of the spacing, with the bracket [0, 2^w] and
// the window's ends clipped to 1 <= A <= B < 2^w, the midpoints on the way are the
// prefixes of A with a one appended; the first inside [A, B] is at the highest bit where A
// and B differ, or at A itself if A's lowest one lies above that bit. A lane with no
// midpoint inside (A > B) is left to the walk.
inline void descend_dyadic(Lanes& lo, Lanes& hi, Lanes& x, IntegerLanes& pass,
                           const AreaRatioWindow& window, Mask which)
{
    const IntegerLanes low = __builtin_bit_cast(IntegerLanes, lo);
    const IntegerLanes width = __builtin_bit_cast(IntegerLanes, hi) - low;
    // The window's ends clipped to the bracket (as fmin(fmax(end, lo), hi)), as offsets.
    const auto offset = [&](Lanes end) {
        const Lanes raised = select(end >= lo, end, lo);
        return __builtin_bit_cast(IntegerLanes, select(raised <= hi, raised, hi)) - low;
    };
    const IntegerLanes a = offset(window.a);
    const IntegerLanes b = offset(window.b);
    const IntegerLanes A = a < 1 ? IntegerLanes{} + 1 : a;
    const IntegerLanes B = b > width - 1 ? width - 1 : b;
    const Mask moved = which & (A <= B);
    // Lanes where A == B have no differing bit; a stop of -1 leaves A's lowest one deciding.
    const IntegerLanes differ = A == B ? IntegerLanes{} - 1 : log2_floor(A ^ B);
    const IntegerLanes lowest = log2_floor(A & -A);
    const IntegerLanes stop = differ > lowest ? differ : lowest;
    const IntegerLanes node = (A >> (stop + 1)) << (stop + 1);
    const IntegerLanes one = IntegerLanes{} + 1;
    lo = select(moved, __builtin_bit_cast(Lanes, low + node), lo);
    hi = select(moved, __builtin_bit_cast(Lanes, low + node + (one << (stop + 1))), hi);
    x = select(moved, __builtin_bit_cast(Lanes, low + node + (one << stop)), x);
    pass += moved ? log2_floor(width) - 1 - stop : IntegerLanes{};
}

}  // namespace area_ratio_detail

// The bisection brought, by arithmetic alone, to the first pass whose midpoint the window
// does not place above b (supersonic) or on the far side of its window (subsonic).
//
// Supersonic, [1, largest double]: while midpoints lie above the window the upper bound
// takes each of them. For the first 970 passes the 1 in 1 + hi is below half an ulp of hi,
// so hi is the largest double halved once per pass. Passes 970 and 971 round to 2^53 and
// 2^52; from there 1 + hi is exact and hi - 1 = (2^52 - 1)*2^-j, which stays exact down
// to the midpoint 2 - 2^-52 at pass 1023. Subsonic, [0, 1]: the midpoints below the window
// are 1 - 2^-(p+1), those above it 2^-(p+1), all exact.
inline AreaRatioBisection open_area_ratio_bisection(const AreaRatioWindow& window, bool sup)
{
    using namespace area_ratio_detail;
    AreaRatioBisection state;
    if (sup) {
        const Mask bounded = window.b < 1e300;
        // The first pass p whose upper bound before it, hi_p, may not exceed b.
        const IntegerLanes q = exponent_of(
            select(bounded & (window.b - 1 >= 0x1p-1000), window.b - 1, Lanes{} + 0x1p-1000));
        IntegerLanes first = clamp(1022 - q, 0, 1023);
        first = ((first > 969) & (first < 972)) ? IntegerLanes{} + 969 : first;
        first = bounded ? first : IntegerLanes{};
        const Mask halving = first <= 969;
        // MAX*2^-p, and 1 + (2^52 - 1)*2^-(p - 972): both exact.
        const Lanes halved =
            (Lanes{} + std::numeric_limits<double>::max()) * power_of_two(clamp(-first, -969, 0));
        const Lanes shrunk =
            1 + (Lanes{} + 0x1.ffffffffffffep51) * power_of_two(clamp(972 - first, -51, 0));
        state.lo = Lanes{} + 1.0;
        state.hi = select(halving, halved, shrunk);
        state.pass = first;
    } else {
        // (A subnormal b reads as exponent -1023, which stops the prefix at 2^-1021.)
        const Mask high_prefix = (window.b < 0.5) & (window.b > 0);
        const Mask low_prefix = (window.a > 0.5) & (window.a < 1);
        const IntegerLanes qb = exponent_of(select(high_prefix, window.b, Lanes{} + 0.25));
        const IntegerLanes qa = exponent_of(select(low_prefix, 1 - window.a, Lanes{} + 0.25));
        const IntegerLanes first_high = clamp(-qb - 1, 0, 1021);
        const IntegerLanes first_low = clamp(-qa - 1, 0, 52);
        state.lo = select(low_prefix, 1 - power_of_two(-first_low), Lanes{});
        state.hi = select(high_prefix, power_of_two(-first_high), Lanes{} + 1.0);
        state.pass = high_prefix ? first_high : (low_prefix ? first_low : IntegerLanes{});
    }
    state.x = (state.lo + state.hi) * 0.5;
    return state;
}

// One vector's bisections, run to their ends: each lane settles on the midpoint whose value
// equals the target, or on the midpoint in hand once a pass leaves both bounds as they were
// (every later pass would repeat it) or after the last pass.
class AreaRatioSettling {
public:
    AreaRatioSettling() = default;
    AreaRatioSettling(const AreaRatioBisection& state, const AreaRatioWindow& window, Lanes t,
                      bool sup, Mask active)
        : lo_(state.lo),
          hi_(state.hi),
          x_(state.x),
          pass_(state.pass),
          result_(state.x),
          running_(active),
          window_(window),
          t_(t),
          sup_(sup)
    {
    }

    // Every running lane walks, without evaluations, to the first midpoint inside its window,
    // so that the lanes then need their evaluations at the same passes: at the opening, and
    // after a pass whose new midpoint falls outside (a root next to the first midpoint evaluated,
    // such as M = 2.5 next to 2.4999999999999996 at ga = 1.4, would otherwise take some forty
    // passes one by one). A lane outside its window stalls only on a bracket that no longer
    // moves, and settles there as a pass would have it. The walk itself is out of line: after a
    // pass it is rarely needed.
    void walk()
    {
        if (any(running_ & ((x_ < window_.a) | (x_ > window_.b)))) [[unlikely]] {
            walk_outside();
        }
    }

    // A vector with no lane running, whose lanes take bisections one by one.
    static AreaRatioSettling idle(bool sup)
    {
        const double inf = std::numeric_limits<double>::infinity();
        const AreaRatioBisection none{Lanes{} + 1.0, Lanes{} + 1.0, Lanes{} + 1.0, IntegerLanes{}};
        return AreaRatioSettling(none, {Lanes{} - inf, Lanes{} + inf}, Lanes{} + 1.0, sup, Mask{});
    }

    // One lane's bisection, as it moves from the vector that opened it to one that settles it.
    struct Lane {
        double lo;
        double hi;
        double x;
        double a;
        double b;
        double t;
        std::int64_t pass;
    };

    Lane lane(int i) const
    {
        return {lo_[i], hi_[i], x_[i], window_.a[i], window_.b[i], t_[i], pass_[i]};
    }

    // Lane `i` goes on with `lane`'s bisection.
    void take(int i, const Lane& lane)
    {
        IntegerLanes index{};
        for (int j = 0; j < lane_count; ++j) {
            index[j] = j;
        }
        const Mask at = index == i;
        lo_ = select(at, lanes_of(lane.lo), lo_);
        hi_ = select(at, lanes_of(lane.hi), hi_);
        x_ = select(at, lanes_of(lane.x), x_);
        window_.a = select(at, lanes_of(lane.a), window_.a);
        window_.b = select(at, lanes_of(lane.b), window_.b);
        t_ = select(at, lanes_of(lane.t), t_);
        pass_ = at ? IntegerLanes{} + lane.pass : pass_;
        running_ |= at;
    }

    Mask running_lanes() const { return running_; }
    Lanes bracket_lo() const { return lo_; }
    Lanes bracket_hi() const { return hi_; }
    bool running() const { return any(running_); }
    // Whether the next pass needs the value at its midpoint, which is then `midpoint()`.
    bool needs_value() const { return any(inside()); }
    Lanes midpoint() const { return x_; }

    // One pass of every running lane, with `v` the value at the midpoint where it is needed.
    void pass(Lanes v)
    {
        const Mask inside_now = inside();
        const Mask hit = inside_now & (t_ == v);
        result_ = select(hit, x_, result_);
        running_ &= ~hit;
        // Supersonic values rise with the Mach number, subsonic ones fall.
        const Mask above = t_ > v;
        const Mask below = t_ < v;
        const Mask to_lo = (x_ < window_.a) | (inside_now & (sup_ ? above : below));
        const Mask to_hi = (x_ > window_.b) | (inside_now & (sup_ ? below : above));
        advance(running_ & to_lo, running_ & to_hi, running_);
    }

    Lanes result() const { return result_; }

private:
    Mask inside() const { return running_ & (x_ >= window_.a) & (x_ <= window_.b); }

    [[gnu::noinline]] void walk_outside()
    {
        for (;;) {
            const Mask below = running_ & (x_ < window_.a);
            const Mask above = running_ & (x_ > window_.b);
            const Mask outside = below | above;
            if (!any(outside)) {
                return;
            }
            advance(below, above, outside);
            const Mask dyadic = outside & running_ & area_ratio_detail::is_dyadic(lo_, hi_);
            if (any(dyadic)) {
                area_ratio_detail::descend_dyadic(lo_, hi_, x_, pass_, window_, dyadic);
            }
        }
    }

    // One pass of the lanes `moving`: the lower bound takes the midpoint in `to_lo`, the upper
    // in `to_hi`; a lane whose bounds stay as they were (every later pass would repeat it), or
    // that has made the last pass, settles on the new midpoint.
    void advance(Mask to_lo, Mask to_hi, Mask moving)
    {
        const Lanes new_lo = select(to_lo, x_, lo_);
        const Lanes new_hi = select(to_hi, x_, hi_);
        const Lanes new_x = (new_lo + new_hi) * 0.5;
        pass_ += one_where(moving);
        const Mask unmoved =
            (__builtin_bit_cast(BitLanes, new_lo) == __builtin_bit_cast(BitLanes, lo_)) &
            (__builtin_bit_cast(BitLanes, new_hi) == __builtin_bit_cast(BitLanes, hi_));
        const Mask settled = moving & (unmoved | (pass_ >= area_ratio_passes));
        lo_ = new_lo;
        hi_ = new_hi;
        x_ = select(moving, new_x, x_);
        result_ = select(settled, new_x, result_);
        running_ &= ~settled;
    }

    Lanes lo_;
    Lanes hi_;
    Lanes x_;
    IntegerLanes pass_;
    Lanes result_;
    Mask running_;
    AreaRatioWindow window_;
    Lanes t_;
    bool sup_;
};

// Runs to its end a bisection that every lane of `search` holds alike (one element alone),
// using the lanes to evaluate ahead: the midpoints of the next few passes, whichever way each
// pass goes, are formed as the passes would form them and evaluated together, and the passes
// then take their values from them. Each pass still evaluates at its own midpoint only, so
// the result is the bisection's; a chain of `depth` passes waits for one evaluation. A pass
// whose midpoint lies outside the window ends the round; the next walks past it.
template <class Area>
void settle_area_ratio_alone(const Area& area, AreaRatioSettling& search)
{
    // The midpoints of a tree of brackets, lane i's children at 2i + 1 and 2i + 2.
    constexpr int depth = lane_count >= 8 ? 3 : (lane_count >= 4 ? 2 : 1);
    for (;;) {
        search.walk();
        if (!search.running()) {
            return;
        }
        double lo[lane_count];
        double hi[lane_count];
        Lanes ahead{};
        lo[0] = search.bracket_lo()[0];
        hi[0] = search.bracket_hi()[0];
        for (int i = 0; i < (1 << depth) - 1; ++i) {
            ahead[i] = (lo[i] + hi[i]) * 0.5;
            if (2 * i + 2 < lane_count) {
                lo[2 * i + 1] = lo[i];
                hi[2 * i + 1] = ahead[i];
                lo[2 * i + 2] = ahead[i];
                hi[2 * i + 2] = hi[i];
            }
        }
        const Lanes values = area(ahead);
        for (int pass = 0; pass < depth && search.needs_value(); ++pass) {
            // The value at this pass's midpoint, where a pass needs one, is among those ahead.
            const Mask here = __builtin_bit_cast(BitLanes, ahead) ==
                __builtin_bit_cast(BitLanes, search.midpoint());
            Lanes v = values;
            if (!any(here)) {
                v = area(search.midpoint());  // never, while the passes follow the tree
            }
            double value = v[0];
            for (int i = 0; i < (1 << depth) - 1; ++i) {
                value = here[i] != 0 ? v[i] : value;
            }
            search.pass(lanes_of(value));
        }
    }
}

// Runs the bisections of `count` vectors to their ends, their evaluating passes side by
// side: each pass waits for its evaluation, and different vectors' do not wait for each
// other. `area` is evaluated only where some lane's midpoint lies inside its window; a vector
// none of whose lanes has its midpoint inside walks first.
template <class Area, int count>
void settle_area_ratio(const Area& area, AreaRatioSettling (&search)[count])
{
    for (;;) {
        bool running = false;
        Lanes values[count];
        for (int j = 0; j < count; ++j) {
            if (!search[j].needs_value()) {
                search[j].walk();
            }
            running |= search[j].running();
            values[j] = search[j].needs_value() ? area(search[j].midpoint()) : Lanes{};
        }
        if (!running) {
            return;
        }
        for (int j = 0; j < count; ++j) {
            search[j].pass(values[j]);
        }
    }
}

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
