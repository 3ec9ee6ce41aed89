// The relations of the function table, compiled for one kernel set: this file is built once
// per set, with VENTAROXI_ISA naming it (see relations/isa.hpp). It is the only module
// source that includes the relations.
#include "kernels.hpp"

#include "../relations/relation_list.hpp"
#include "evaluate.hpp"

namespace ventaroxi {
inline namespace VENTAROXI_ISA {
namespace {

using relations::relation_names;
using relations::Relations;

// The list carries each relation under its function's name, which ties it to its row of
// function_table.
consteval bool follows_function_table()
{
    constexpr auto take_sup =
        Relations::rows<bool>([]<class Relation>() { return relations::takes_sup<Relation>; });
    if (Relations::size != function_count) {
        return false;
    }
    for (std::size_t row = 0; row < function_count; ++row) {
        const FunctionSpec& spec = function_table[row];
        if (relation_names[row] != spec.signature.function_name ||
            take_sup[row] != (spec.sup != SupRule::absent)) {
            return false;
        }
    }
    return true;
}

static_assert(follows_function_table(),
              "one relation per function, in the order of function_table, each under its "
              "function's name, taking sup exactly where the function does");

}  // namespace

// Evaluated by the compiler: the file holds no code of its own beyond the relations.
constinit const Evaluators evaluators =
    Relations::rows<Evaluate>([]<class Relation>() { return &evaluate<Relation>; });

}  // namespace VENTAROXI_ISA
}  // namespace ventaroxi
