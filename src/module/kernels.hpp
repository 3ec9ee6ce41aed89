// The relations compiled for each kernel set, and the choice among them.
#pragma once

#include "../relations/isa.hpp"
#include "array_map.hpp"
#include "kernel_sets.hpp"
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

// One column per kernel set; kernels.cpp is compiled once for each.
#define VENTAROXI_DECLARE_EVALUATORS(name, features)                                               \
    namespace name {                                                                               \
    extern const Evaluators evaluators;                                                            \
    }
VENTAROXI_OFFERED_KERNEL_SETS(VENTAROXI_DECLARE_EVALUATORS)
VENTAROXI_DECLARE_EVALUATORS(VENTAROXI_FALLBACK_KERNEL_SET, "")
#undef VENTAROXI_DECLARE_EVALUATORS

// Each function's kernel from the first offered set that this processor runs, whose power
// gives the platform pow's bits (see relations/power_choice.hpp) and which serves the
// function (kernel_preferences.hpp); from the fallback set where none does.
const Evaluators& active_evaluators() noexcept;

}  // namespace ventaroxi
