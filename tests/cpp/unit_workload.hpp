// How much of its full workload a unit test runs: all of it by default; a share of it where
// the tests run under emulation, some tens of times slower, which VENTAROXI_UNIT_SHARE (a
// fraction in (0, 1]) gives. Fixed cases (edges, special values) are always run in full.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ventaroxi::unit_workload {

inline double share()
{
    const char* text = std::getenv("VENTAROXI_UNIT_SHARE");
    if (text == nullptr || *text == '\0') {
        return 1.0;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (*end != '\0' || !(value > 0 && value <= 1)) {
        std::fprintf(stderr, "VENTAROXI_UNIT_SHARE must be a fraction in (0, 1], not %s\n", text);
        std::exit(2);
    }
    return value;
}

// A count of generated cases, scaled by the share, never below `least`.
inline long scaled(long full, long least = 1)
{
    return std::max(least, std::lround(static_cast<double>(full) * share()));
}

}  // namespace ventaroxi::unit_workload
