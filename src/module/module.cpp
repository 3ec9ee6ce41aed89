// Module creation: single-phase initialisation, once per process, in one interpreter.
#include "arguments.hpp"
#include "call.hpp"
#include "py_ref.hpp"
#include "signatures.hpp"

#include <atomic>
#include <cstdint>
#include <utility>

namespace ventaroxi {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "ventaroxi",
    "Compressible-flow relations of a perfect gas, evaluated element-wise over float64 NumPy "
    "arrays.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module declares C-API version 1013: PyModule_Create passes the headers' version, which
// is 1013 from CPython 3.11 to 3.15. Headers of another version fail here rather than give a
// module that declares another.
static_assert(PYTHON_API_VERSION == 1013, "the module is written against C-API version 1013");

// The interpreter that first created the module; -1 until then, and never reset.
std::atomic<std::int64_t> owner_interpreter{-1};
// The module, once created, kept for the life of the process.
PyObject* cached_module = nullptr;

// The fast-call entry of table row `Row`; the interpreter gives it no other context.
template <std::size_t Row>
PyObject* entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return call_function(Row, args, nargs, kwnames);
}

template <std::size_t... Rows>
constexpr auto make_entries(std::index_sequence<Rows...>)
{
    return std::array<_PyCFunctionFastWithKeywords, sizeof...(Rows)>{&entry<Rows>...};
}

constexpr auto entries = make_entries(std::make_index_sequence<function_count>{});

// The interpreter reads these for the life of each function object, so they are never freed.
std::array<PyMethodDef, function_count> method_entries{};

[[gnu::cold]] PyObject* raise_second_interpreter()
{
    PyErr_SetString(PyExc_ImportError,
                    "ventaroxi does not support sub-interpreters: it can only be imported in "
                    "the interpreter that imported it first");
    return nullptr;
}

// Appends `name` to the module's __all__, creating the list on first use.
bool append_to_all(PyObject* module, PyObject* name)
{
    PyObject* dict = PyModule_GetDict(module);
    PyObject* all = PyDict_GetItemString(dict, "__all__");
    if (all == nullptr) {
        PyRef created = PyRef::steal(PyList_New(0));
        if (!created || PyDict_SetItemString(dict, "__all__", created.get()) != 0) {
            return false;
        }
        all = created.get();  // the module's dict now holds the list
    }
    return PyList_Append(all, name) == 0;
}

bool add_function(PyObject* module, PyObject* module_name, std::size_t row)
{
    const char* function_name = function_table[row].signature.function_name;
    method_entries[row] = PyMethodDef{
        function_name,
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entries[row])),
        METH_FASTCALL | METH_KEYWORDS,
        docstrings[row],
    };
    PyRef function = PyRef::steal(PyCFunction_NewEx(&method_entries[row], module, module_name));
    if (!function) {
        return false;
    }
    // The name the function reports as __name__, which is the table's.
    PyRef name = PyRef::steal(PyUnicode_FromString(function_name));
    if (!name) {
        return false;
    }
    return append_to_all(module, name.get()) &&
        PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

PyObject* create_module()
{
    PyRef module = PyRef::steal(PyModule_Create(&module_definition));
    if (!module) {
        return nullptr;
    }
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module.get()));
    if (!module_name || !intern_parameter_names()) {
        return nullptr;
    }
    for (std::size_t row = 0; row < function_count; ++row) {
        if (!add_function(module.get(), module_name.get(), row)) {
            return nullptr;  // the half-built module is dropped; a later import starts again
        }
    }
    return module.release();
}

PyObject* initialise()
{
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) {
        return nullptr;
    }
    std::int64_t recorded = -1;
    if (!owner_interpreter.compare_exchange_strong(recorded, current) && recorded != current) {
        return raise_second_interpreter();
    }
    if (cached_module == nullptr) {
        cached_module = create_module();
        if (cached_module == nullptr) {
            return nullptr;
        }
    }
    return Py_NewRef(cached_module);
}

}  // namespace
}  // namespace ventaroxi

PyMODINIT_FUNC PyInit_ventaroxi() { return ventaroxi::initialise(); }
