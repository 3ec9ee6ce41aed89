// The module's functions as data: one row per function, in registration order. Module
// creation, `__all__`, argument matching and dispatch are all driven from this table.
#pragma once

#include "python.hpp"

#include <array>
#include <cstddef>

namespace ventaroxi {

inline constexpr std::size_t max_parameters = 3;

// What argument matching needs to know of a function.
struct CallSignature {
    const char* function_name;
    std::array<const char*, max_parameters> parameter_names;
    std::size_t parameter_count;
    std::size_t positional_only;  // leading parameters that may not be passed by keyword
    std::size_t required;         // leading parameters that must be supplied
};

// How the optional third parameter, `sup`, reaches the relation.
enum class SupRule : unsigned char {
    absent,          // the function has no `sup`
    none_is_false,   // required; None selects the subsonic branch without conversion
    defaults_false,  // may be omitted (subsonic); None is refused like any non-boolean
};

enum class ArrayRank : unsigned char { exactly_one, any };

// Maps the function's relation over a converted float64 array into a new array.
using Evaluate = PyObject* (*)(PyObject* array, double ga, bool sup);

struct FunctionSpec {
    CallSignature signature;
    const char* docstring;  // a text signature, which is all the function documents
    ArrayRank rank;
    SupRule sup;
    Evaluate evaluate;
};

inline constexpr std::size_t function_count = 19;
extern const std::array<FunctionSpec, function_count> function_table;

}  // namespace ventaroxi
