// The area-ratio bisection run for all of its passes, with no early stop and no special
// case for a NaN target: the reference that Ma_from_A_Acrit's search (area_ratio_search.hpp)
// must match bit for bit (NaN targets aside), and the reference its cost is measured against;
// and the forward relation wrapped to count the evaluations a search makes.
#pragma once

#include "flow_functions.hpp"
#include "isa.hpp"
#include "lanes.hpp"

#include <cstdint>

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

template <class Area>
double search_area_ratio_literal(const Area& area, double t, bool sup)
{
    if (t == 1) {
        return 1.0;
    }
    // Written out rather than shared with the search under test.
    double lo = sup ? 1.0 : 0.0;
    double hi = sup ? 1.7976931348623157e308 : 1.0;
    double x = sup ? 8.988465674311579e307 : 0.5;
    for (std::uint32_t pass = 0; pass < 10000; ++pass) {
        const double v = area(x);
        if (t == v) {
            return x;
        }
        if (sup) {
            if (t > v) {
                lo = x;
            } else if (t < v) {
                hi = x;
            }
        } else {
            if (t > v) {
                hi = x;
            } else if (t < v) {
                lo = x;
            }
        }
        x = (lo + hi) * 0.5;
    }
    return x;
}

// The relation on lanes, counting its evaluations.
struct CountingArea {
    const A_Acrit_from_Ma& area;
    std::uint64_t& count;
    Lanes operator()(Lanes x) const
    {
        ++count;
        return area(x);
    }
};

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
