#include "call.hpp"

#include "arguments.hpp"
#include "kernels.hpp"
#include "panic.hpp"

#include <exception>

namespace ventaroxi {
namespace {

PyObject* call_unguarded(std::size_t function, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames)
{
    const FunctionSpec& spec = function_table[function];
    ArgumentSlots slots;
    if (!match_arguments(function, args, nargs, kwnames, slots)) {
        return nullptr;
    }
    // Conversions run in parameter order; the first failure is the one reported.
    const PyRef array = convert_array(slots[0], spec.signature.parameter_names[0], spec.rank);
    if (!array) {
        return nullptr;
    }
    double ga = 0;
    if (!convert_ga(slots[1], ga)) {
        return nullptr;
    }
    bool sup = false;
    PyObject* sup_argument = slots[2];
    const bool converts_sup = spec.sup == SupRule::defaults_false
        ? sup_argument != nullptr
        : spec.sup == SupRule::none_is_false && sup_argument != Py_None;
    if (converts_sup && !convert_sup(sup_argument, sup)) {
        return nullptr;
    }
    // The conversions of ga and sup may have run Python code (__float__, __index__, a
    // truth slot, finalisers, other threads), which may have changed or resized the array
    // since it was converted: it is checked again and described only now.
    ArrayDescription input;
    if (!describe_array(array.get(), spec.signature.parameter_names[0], spec.rank, input)) {
        return nullptr;
    }
    return active_evaluators()[function](input, ga, sup);
}

}  // namespace

PyObject* call_function(std::size_t function, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept
{
    // No C++ exception may cross into the interpreter; one that escapes is a fault.
    try {
        return call_unguarded(function, args, nargs, kwnames);
    } catch (const std::exception& fault) {
        return raise_panic(fault.what());
    } catch (...) {
        return raise_panic("unknown internal fault");
    }
}

}  // namespace ventaroxi
