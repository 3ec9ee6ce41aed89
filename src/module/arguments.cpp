#include "arguments.hpp"

#include "argument_errors.hpp"
#include "numpy_api.hpp"
#include "panic.hpp"
#include "pending_error.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace ventaroxi {
namespace {

// Parameter names interned once; keywords written in Python source are interned too, so
// nearly every keyword matches on its first pointer compare.
std::array<std::array<PyObject*, max_parameters>, function_count> interned_names{};

constexpr std::ptrdiff_t no_parameter = -1;
constexpr std::ptrdiff_t lookup_failed = -2;  // with an error pending

// The parameter a keyword names, or no_parameter; byte-for-byte text equality decides
// when identity does not (str subclasses, names built at run time).
std::ptrdiff_t find_parameter(std::size_t function, PyObject* keyword)
{
    const CallSignature& signature = function_table[function].signature;
    const auto& names = interned_names[function];
    for (std::size_t i = 0; i < signature.parameter_count; ++i) {
        if (names[i] == keyword) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    Py_ssize_t length = 0;
    const char* text =
        PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &length) : nullptr;
    if (text == nullptr) {
        // A name that has no UTF-8 form matches no parameter; running out of memory while
        // the form is made is no such name.
        return set_aside_pending_error() ? no_parameter : lookup_failed;
    }
    for (std::size_t i = 0; i < signature.parameter_count; ++i) {
        const char* name = signature.parameter_names[i];
        if (std::strlen(name) == static_cast<std::size_t>(length) &&
            std::memcmp(name, text, static_cast<std::size_t>(length)) == 0) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return no_parameter;
}

[[gnu::cold]] bool raise_missing(const CallSignature& signature, const ArgumentSlots& slots)
{
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (slots[i] == nullptr) {
            missing.push_back(i);
        }
    }
    return raise_missing_arguments(signature, missing);
}

bool is_float64(PyArray_Descr* descriptor)
{
    PyArray_Descr* float64 = numpy_api::float64();
    return descriptor == float64 || PyArray_EquivTypes(descriptor, float64);
}

// Whether the array is one the function accepts, as it stands when the check ends. NumPy
// may allocate while it decides that two descriptors are equivalent (it creates and caches
// the cast between them), a collection may then run finalisers, and one of them may give
// the array another dtype: so the verdict holds only if the array still has the descriptor
// that was checked, and the check starts again if not.
bool qualifies(PyArrayObject* array, ArrayRank rank)
{
    constexpr int attempts = 4;  // a finaliser runs once; more changes than this are refused
    for (int attempt = 0; attempt < attempts; ++attempt) {
        PyArray_Descr* descriptor = PyArray_DESCR(array);
        // Held, so that a finaliser that replaces it cannot free it while NumPy reads it.
        const PyRef held = PyRef::borrow(reinterpret_cast<PyObject*>(descriptor));
        if (!is_float64(descriptor)) {
            return false;
        }
        if (PyArray_DESCR(array) == descriptor) {
            return rank == ArrayRank::any || PyArray_NDIM(array) == 1;
        }
    }
    return false;
}

[[gnu::cold]] bool raise_too_many_dimensions()
{
    raise_panic("arrays with more than 32 dimensions are not supported");
    return false;
}

// NumPy's boolean scalar type is recognised by name, as `numpy.bool_` (NumPy 1) or
// `numpy.bool` (NumPy 2); a type whose names cannot be read (reading them raised an ordinary
// error) is not one. No answer, with the error pending, when the reading (a metaclass's
// `__module__` runs any Python code) was interrupted or ran out of memory.
std::optional<bool> is_numpy_bool_type(PyTypeObject* type)
{
    PyRef module =
        PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!module) {
        return set_aside_pending_error() ? std::optional(false) : std::nullopt;
    }
    if (!PyUnicode_Check(module.get()) ||
        PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
        return false;
    }
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!name) {
        return set_aside_pending_error() ? std::optional(false) : std::nullopt;
    }
    return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
        PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

[[gnu::cold]] bool convert_numpy_bool(PyObject* object, bool& sup)
{
    PyTypeObject* type = Py_TYPE(object);
    const std::optional<bool> numpy_bool = is_numpy_bool_type(type);
    if (!numpy_bool) {
        return false;
    }
    if (!*numpy_bool) {
        return raise_bool_conversion(object);
    }
    const inquiry truth = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
    if (truth == nullptr) {
        return raise_missing_truth_conversion(object);
    }
    const int value = truth(object);
    if (value == 0 || value == 1) {
        sup = value == 1;
        return true;
    }
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "a truth slot failed without setting an exception");
    }
    return name_argument_in_error("sup");
}

}  // namespace

bool intern_parameter_names()
{
    for (std::size_t function = 0; function < function_count; ++function) {
        const CallSignature& signature = function_table[function].signature;
        for (std::size_t i = 0; i < signature.parameter_count; ++i) {
            if (interned_names[function][i] != nullptr) {
                continue;
            }
            // Held for the life of the process, like the functions that use them.
            interned_names[function][i] = PyUnicode_InternFromString(signature.parameter_names[i]);
            if (interned_names[function][i] == nullptr) {
                return false;
            }
        }
    }
    return true;
}

bool match_arguments(std::size_t function, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, ArgumentSlots& slots)
{
    const CallSignature& signature = function_table[function].signature;
    const auto given = static_cast<std::size_t>(nargs);
    slots = {};
    std::copy_n(args, std::min(given, signature.parameter_count), slots.begin());
    if (given > signature.parameter_count) {
        return raise_too_many_positional(signature, given);
    }
    if (kwnames != nullptr) {
        // Positional-only names given as keywords are all reported together, after every
        // keyword has been looked at; any other keyword error ends the matching at once.
        std::vector<std::size_t> positional_only_keywords;
        const Py_ssize_t keyword_count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < keyword_count; ++k) {
            PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
            const std::ptrdiff_t found = find_parameter(function, keyword);
            if (found == lookup_failed) {
                return false;
            }
            if (found == no_parameter) {
                return raise_unexpected_keyword(signature, keyword);
            }
            const auto parameter = static_cast<std::size_t>(found);
            if (parameter < signature.positional_only) {
                positional_only_keywords.push_back(parameter);
                continue;
            }
            if (slots[parameter] != nullptr) {
                return raise_multiple_values(signature, parameter);
            }
            slots[parameter] = args[nargs + k];
        }
        if (!positional_only_keywords.empty()) {
            return raise_positional_only(signature, positional_only_keywords);
        }
    }
    if (given < signature.required &&
        std::any_of(
            slots.begin() + static_cast<std::ptrdiff_t>(given),
            slots.begin() + static_cast<std::ptrdiff_t>(signature.required),
            [](PyObject* slot) { return slot == nullptr; })) {
        return raise_missing(signature, slots);
    }
    return true;
}

PyRef convert_array(PyObject* object, const char* parameter, ArrayRank rank)
{
    if (!numpy_api::ensure()) {
        return {};
    }
    if (!PyArray_Check(object)) {
        raise_array_conversion(parameter, object);
        return {};
    }
    if (!qualifies(reinterpret_cast<PyArrayObject*>(object), rank)) {
        raise_array_conversion(parameter, object);
        return {};
    }
    return PyRef::borrow(object);
}

bool describe_array(PyObject* object, const char* parameter, ArrayRank rank,
                    ArrayDescription& description)
{
    // An ndarray stays one (its class can only be set to another ndarray class), but the
    // test costs nothing and keeps this check whole on its own.
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (!PyArray_Check(object) || !qualifies(array, rank)) {
        return raise_array_conversion(parameter, object);
    }
    // From the verdict to here nothing runs: the macros read the array's fields, and the
    // reference qualifies() held on the descriptor was dropped while the array held another.
    const int ndim = PyArray_NDIM(array);
    if (ndim > max_dimensions) {
        return raise_too_many_dimensions();
    }
    description.ndim = ndim;
    std::copy_n(PyArray_DIMS(array), ndim, description.shape.begin());
    std::copy_n(PyArray_STRIDES(array), ndim, description.strides.begin());
    description.data = PyArray_BYTES(array);
    return true;
}

bool convert_ga(PyObject* object, double& ga)
{
    if (PyFloat_CheckExact(object)) {
        ga = PyFloat_AS_DOUBLE(object);
        return true;
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        return name_argument_in_error("ga");
    }
    ga = value;
    return true;
}

bool convert_sup(PyObject* object, bool& sup)
{
    if (PyBool_Check(object)) {
        sup = object == Py_True;
        return true;
    }
    return convert_numpy_bool(object, sup);
}

}  // namespace ventaroxi
