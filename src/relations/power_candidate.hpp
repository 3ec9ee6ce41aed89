// The power function of the kernel set of this compilation, as a candidate for the choice
// in power_choice.hpp. power_candidate.cpp is compiled once per kernel set, like the kernels.
#pragma once

#include "isa.hpp"
#include "power_choice.hpp"

namespace ventaroxi::relations {
inline namespace VENTAROXI_ISA {

extern const PowerCandidate power_candidate;

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi::relations
