#include "argument_errors.hpp"

#include "pending_error.hpp"
#include "py_ref.hpp"

#include <optional>
#include <string>

namespace ventaroxi {
namespace {

// 'a' and 'b'; 'a', 'b', and 'c': a comma between names only in lists of three or more.
std::string parameter_list(const CallSignature& signature, std::span<const std::size_t> parameters)
{
    std::string list;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (i != 0) {
            if (parameters.size() > 2) {
                list += ',';
            }
            list += i + 1 == parameters.size() ? " and " : " ";
        }
        list += '\'';
        list += signature.parameter_names[parameters[i]];
        list += '\'';
    }
    return list;
}

// The message is UTF-8 and written whole: a type's name may hold a NUL character.
bool raise_type_error(const std::string& message)
{
    PyRef text = PyRef::steal(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) {
        PyErr_SetObject(PyExc_TypeError, text.get());
    }
    return false;
}

// The type's __qualname__, as text that a message can carry (a placeholder for one that
// cannot be read); none, with the error pending, when the reading ran out of memory.
std::optional<std::string> qualified_type_name(PyObject* object)
{
    PyRef name = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
    Py_ssize_t length = 0;
    const char* text = name && PyUnicode_Check(name.get())
        ? PyUnicode_AsUTF8AndSize(name.get(), &length)
        : nullptr;
    if (text == nullptr) {
        if (!set_aside_pending_error()) {
            return std::nullopt;
        }
        return "<failed to extract type name>";
    }
    return std::string(text, static_cast<std::size_t>(length));
}

// The keyword as str() writes it; a str subclass whose __str__ raises an ordinary error is
// written as its plain text.
PyRef keyword_text(PyObject* keyword)
{
    PyRef text = PyRef::steal(PyObject_Str(keyword));
    if (!text && PyUnicode_Check(keyword) && set_aside_pending_error()) {
        text = PyRef::steal(PyUnicode_Substring(keyword, 0, PY_SSIZE_T_MAX));
    }
    return text;
}

}  // namespace

bool raise_too_many_positional(const CallSignature& signature, std::size_t given)
{
    const std::string name = signature.function_name;
    const std::string count = std::to_string(signature.parameter_count);
    const std::string takes = signature.required == signature.parameter_count
        ? count
        : "from " + std::to_string(signature.required) + " to " + count;
    return raise_type_error(name + "() takes " + takes + " positional arguments but " +
                            std::to_string(given) + (given == 1 ? " was given" : " were given"));
}

bool raise_unexpected_keyword(const CallSignature& signature, PyObject* keyword)
{
    PyRef text = keyword_text(keyword);
    if (text) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                     signature.function_name, text.get());
    }
    return false;
}

bool raise_multiple_values(const CallSignature& signature, std::size_t parameter)
{
    return raise_type_error(std::string(signature.function_name) +
                            "() got multiple values for argument '" +
                            signature.parameter_names[parameter] + "'");
}

bool raise_positional_only(const CallSignature& signature, std::span<const std::size_t> parameters)
{
    return raise_type_error(std::string(signature.function_name) +
                            "() got some positional-only arguments passed as keyword arguments: " +
                            parameter_list(signature, parameters));
}

bool raise_missing_arguments(const CallSignature& signature,
                             std::span<const std::size_t> parameters)
{
    const std::size_t missing = parameters.size();
    const std::string what = missing == 1
        ? "1 required positional argument: "
        : std::to_string(missing) + " required positional arguments: ";
    return raise_type_error(std::string(signature.function_name) + "() missing " + what +
                            parameter_list(signature, parameters));
}

// Frozen text, 'PyArray<T, D>' included: callers match it (ARCHITECTURE.md).
bool raise_array_conversion(const char* parameter, PyObject* object)
{
    const std::optional<std::string> type_name = qualified_type_name(object);
    if (!type_name) {
        return false;
    }
    raise_type_error("'" + *type_name + "' object cannot be converted to 'PyArray<T, D>'");
    return name_argument_in_error(parameter);
}

// Frozen text, 'PyBool' included: callers match it (ARCHITECTURE.md).
bool raise_bool_conversion(PyObject* object)
{
    const std::optional<std::string> type_name = qualified_type_name(object);
    if (!type_name) {
        return false;
    }
    raise_type_error("'" + *type_name + "' object cannot be converted to 'PyBool'");
    return name_argument_in_error("sup");
}

bool raise_missing_truth_conversion(PyObject* object)
{
    PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                 reinterpret_cast<PyObject*>(Py_TYPE(object)));
    return name_argument_in_error("sup");
}

bool name_argument_in_error(const char* parameter)
{
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) {
        return false;  // leave other errors, and TypeError's subclasses below, unchanged
    }
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef error_type = PyRef::steal(type);
    PyRef error = PyRef::steal(value);
    PyRef error_traceback = PyRef::steal(traceback);
    if (error_type.get() != PyExc_TypeError || !error) {
        PyErr_Restore(error_type.release(), error.release(), error_traceback.release());
        return false;
    }
    PyRef renamed = PyRef::steal(PyUnicode_FromFormat("argument '%s': %S", parameter, error.get()));
    if (!renamed) {
        // The error's own str() raised an ordinary error: the conversion error is reported
        // as it came. An interrupt or an out-of-memory meanwhile is reported instead.
        if (set_aside_pending_error()) {
            PyErr_Restore(error_type.release(), error.release(), error_traceback.release());
        }
        return false;
    }
    PyRef named_error = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, renamed.get()));
    if (!named_error) {
        return false;
    }
    PyException_SetCause(named_error.get(), PyException_GetCause(error.get()));
    PyErr_SetObject(PyExc_TypeError, named_error.get());
    return false;
}

}  // namespace ventaroxi
