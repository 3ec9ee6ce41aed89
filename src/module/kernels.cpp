// The relations of the function table, compiled for one instruction set: this file is
// built once per set, with VENTAROXI_ISA naming it (see relations/isa.hpp).
#include "kernels.hpp"

namespace ventaroxi {
inline namespace VENTAROXI_ISA {
namespace {

// Evaluated by the compiler: the file holds no code of its own beyond the relations.
consteval Evaluators collect_evaluators()
{
    Evaluators collected{};
    for (std::size_t row = 0; row < function_count; ++row) {
        collected[row] = function_table[row].evaluate;
    }
    return collected;
}

}  // namespace

constinit const Evaluators evaluators = collect_evaluators();

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi
