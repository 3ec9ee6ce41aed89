#define VENTAROXI_OWNS_NUMPY_API
#include "numpy_api.hpp"

#include "one_time.hpp"
#include "panic.hpp"
#include "pending_error.hpp"
#include "py_ref.hpp"

#include <cstddef>
#include <cstdio>

namespace ventaroxi::numpy_api {
namespace {

constexpr const char* fetch_failure = "Failed to access NumPy array API capsule";

// The float64 descriptor stands for the whole table: it is fetched last, and only once the
// table is usable.
CreatedOnce<PyArray_Descr> fetched_float64;

long numpy_major_version(PyObject* numpy)
{
    PyRef version = PyRef::steal(PyObject_GetAttrString(numpy, "__version__"));
    if (!version) {
        return -1;
    }
    PyRef lib = PyRef::steal(PyImport_ImportModule("numpy.lib"));
    if (!lib) {
        return -1;
    }
    PyRef numpy_version_class = PyRef::steal(PyObject_GetAttrString(lib.get(), "NumpyVersion"));
    if (!numpy_version_class) {
        return -1;
    }
    PyRef parsed = PyRef::steal(PyObject_CallOneArg(numpy_version_class.get(), version.get()));
    if (!parsed) {
        return -1;
    }
    PyRef major = PyRef::steal(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major) {
        return -1;
    }
    return PyLong_AsLong(major.get());
}

[[gnu::cold]] std::nullptr_t fail(const char* detail)
{
    // An interrupt or an out-of-memory while NumPy is imported is no fault of the table: it
    // reaches the caller as it is (an `except KeyboardInterrupt` must catch it), and the
    // next call tries again.
    if (pending_error_must_propagate()) {
        return nullptr;
    }
    if (detail == nullptr) {
        raise_panic(fetch_failure);
        return nullptr;
    }
    char message[256];
    std::snprintf(message, sizeof message, "%s: %s", fetch_failure, detail);
    raise_panic(message);
    return nullptr;
}

// Reads the table from NumPy's `_ARRAY_API` capsule, checks that it serves the C-API
// version this module was compiled for, and returns the float64 descriptor.
[[gnu::cold]] PyArray_Descr* fetch()
{
    PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
    if (!numpy) {
        return fail(nullptr);
    }
    const long major = numpy_major_version(numpy.get());
    if (major == -1 && PyErr_Occurred()) {
        return fail(nullptr);
    }
    const char* multiarray_name = major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
    PyRef multiarray = PyRef::steal(PyImport_ImportModule(multiarray_name));
    if (!multiarray) {
        return fail(nullptr);
    }
    PyRef capsule = PyRef::steal(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
    if (!capsule) {
        return fail(nullptr);
    }
    if (!PyCapsule_CheckExact(capsule.get())) {
        return fail("_ARRAY_API is not a capsule");
    }
    void** table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
    if (table == nullptr) {
        return fail(nullptr);
    }
    PyArray_API = table;
    if (PyArray_GetNDArrayCVersion() > NPY_VERSION) {
        PyArray_API = nullptr;
        return fail("the installed NumPy has a newer, incompatible ABI");
    }
    PyArray_RUNTIME_VERSION = static_cast<int>(PyArray_GetNDArrayCFeatureVersion());
    if (PyArray_RUNTIME_VERSION < NPY_FEATURE_VERSION) {
        PyArray_API = nullptr;
        return fail("the installed NumPy is older than this module's C-API version");
    }
    // The builtin descriptor is a singleton that NumPy keeps alive; this reference is
    // kept for the life of the process.
    PyArray_Descr* float64_descriptor = PyArray_DescrFromType(NPY_FLOAT64);
    if (float64_descriptor == nullptr) {
        PyArray_API = nullptr;
        return fail(nullptr);
    }
    return float64_descriptor;
}

[[gnu::cold]] PyArray_Descr* refuse_fetch()
{
    // Python code that this thread's fetch runs further up the stack (NumPy's import)
    // called the module: waiting for that fetch would never end.
    return fail("called from within the fetch on the same thread (NumPy's import called "
                "back into ventaroxi)");
}

}  // namespace

bool ensure() { return fetched_float64.get(fetch, refuse_fetch) != nullptr; }

PyArray_Descr* float64() { return fetched_float64.made(); }

}  // namespace ventaroxi::numpy_api
