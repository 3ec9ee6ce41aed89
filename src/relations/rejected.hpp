// The value an inverse relation writes for an element it rejects or fails to solve.
#pragma once

#include <limits>

namespace ventaroxi::relations {

// The default quiet NaN, bits 0x7FF8000000000000, whatever the cause of the rejection.
inline constexpr double rejected = std::numeric_limits<double>::quiet_NaN();

}  // namespace ventaroxi::relations
