// The relations compiled for each instruction set, and the choice among them.
#pragma once

#include "../relations/isa.hpp"
#include "array_map.hpp"
#include "python.hpp"
#include "signatures.hpp"

#include <array>

namespace ventaroxi {

// The set this file is compiled for is an inline namespace, as in every header that defines
// something per set; it is opened so here first, before the plain declarations below name
// it, so that kernels.cpp defines its evaluators in the namespace those declare.
inline namespace VENTAROXI_ISA {
}

// Maps one function's relation over a described float64 array into a new array.
using Evaluate = PyObject* (*)(const ArrayDescription& input, double ga, bool sup);

// One evaluator per row of function_table, in its order.
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
