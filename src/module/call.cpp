#include "call.hpp"

#include "arguments.hpp"
#include "kernels.hpp"
#include "panic.hpp"

#include <exception>
#include <new>

namespace ventaroxi {
namespace {

// What the conversion of `sup` below relies on of the matching: a function whose `sup`
// turns None into False has it among the required parameters, so its slot is never empty;
// one whose `sup` defaults to False may leave it empty; one without `sup` has no such slot.
consteval bool sup_slot_as_converted(const FunctionSpec& spec)
{
    const CallSignature& signature = spec.signature;
    switch (spec.sup) {
    case SupRule::absent:
        return signature.parameter_count == sup_parameter;
    case SupRule::none_is_false:
        return signature.required > sup_parameter;
    case SupRule::defaults_false:
        return signature.parameter_count > sup_parameter && signature.required == sup_parameter;
    }
    return false;
}

// Both the array and `ga` are always required: their slots are converted unconditionally.
consteval bool table_as_converted()
{
    for (const FunctionSpec& spec : function_table) {
        if (spec.signature.required <= ga_parameter || !sup_slot_as_converted(spec)) {
            return false;
        }
    }
    return true;
}

static_assert(table_as_converted(),
              "the array and ga are required in every function, and sup is required, "
              "optional or absent as its SupRule says");

PyObject* call_unguarded(std::size_t function, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames)
{
    const FunctionSpec& spec = function_table[function];
    ArgumentSlots slots;
    if (!match_arguments(function, args, nargs, kwnames, slots)) {
        return nullptr;
    }
    // Conversions run in parameter order; the first failure is the one reported.
    const char* array_name = spec.signature.parameter_names[array_parameter];
    const PyRef array = convert_array(slots[array_parameter], array_name, spec.rank);
    if (!array) {
        return nullptr;
    }
    double ga = 0;
    if (!convert_ga(slots[ga_parameter], ga)) {
        return nullptr;
    }
    bool sup = false;
    PyObject* sup_argument = slots[sup_parameter];
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
    if (!describe_array(array.get(), array_name, spec.rank, input)) {
        return nullptr;
    }
    return active_evaluators()[function](input, ga, sup);
}

}  // namespace

PyObject* call_function(std::size_t function, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept
{
    // No C++ exception may cross into the interpreter; one that escapes is a fault, but for
    // running out of memory (building a message's text), which stays what it is.
    try {
        return call_unguarded(function, args, nargs, kwnames);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& fault) {
        return raise_panic(fault.what());
    } catch (...) {
        return raise_panic("unknown internal fault");
    }
}

}  // namespace ventaroxi
