// The messages of malformed calls. Each is built in a small cold function, off the path
// that well-formed calls take; each sets the exception and returns false.
#pragma once

#include "python.hpp"
#include "signatures.hpp"

#include <cstddef>
#include <span>

namespace ventaroxi {

[[gnu::cold]] bool raise_too_many_positional(const CallSignature& signature, std::size_t given);
[[gnu::cold]] bool raise_unexpected_keyword(const CallSignature& signature, PyObject* keyword);
[[gnu::cold]] bool raise_multiple_values(const CallSignature& signature, std::size_t parameter);
[[gnu::cold]] bool raise_positional_only(const CallSignature& signature,
                                         std::span<const std::size_t> parameters);
[[gnu::cold]] bool raise_missing_arguments(const CallSignature& signature,
                                           std::span<const std::size_t> parameters);

// The conversion errors, already carrying their parameter's name.
[[gnu::cold]] bool raise_array_conversion(const char* parameter, PyObject* object);
[[gnu::cold]] bool raise_bool_conversion(PyObject* object);
[[gnu::cold]] bool raise_missing_truth_conversion(PyObject* object);

// Names the parameter in the pending conversion error: an error of exactly TypeError
// becomes a new TypeError "argument '<parameter>': <text>" with the same __cause__; any
// other error is left as it is.
[[gnu::cold]] bool name_argument_in_error(const char* parameter);

}  // namespace ventaroxi
