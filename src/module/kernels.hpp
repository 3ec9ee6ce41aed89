// The relations compiled for each instruction set, and the choice among them.
#pragma once

#include "function_table.hpp"

namespace ventaroxi {

using Evaluators = std::array<Evaluate, function_count>;

// One set per instruction set; kernels.cpp is compiled once for each.
namespace baseline {
extern const Evaluators evaluators;
}
// The baseline instructions, with the power one element at a time by the platform's pow.
namespace per_element {
extern const Evaluators evaluators;
}
#if defined(VENTAROXI_AVX2_KERNELS)
namespace avx2 {
extern const Evaluators evaluators;
}
#endif

// The widest set this processor runs whose power gives the platform pow's bits, or the
// per_element set (see relations/power_choice.hpp).
const Evaluators& active_evaluators() noexcept;

}  // namespace ventaroxi
