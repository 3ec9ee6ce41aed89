// Runs the engine over a described input and wraps the results as a new ndarray.
#include "result_array.hpp"

#include "numpy_api.hpp"
#include "panic.hpp"
#include "py_ref.hpp"
#include "slice_container.hpp"

#include <type_traits>

namespace ventaroxi {
namespace {

static_assert(std::is_same_v<npy_intp, std::ptrdiff_t>, "NumPy's sizes are read in place");

// An empty result has no buffer, yet NumPy must be given a data pointer, or it would
// allocate and own memory of its own.
alignas(64) double empty_result_storage;

[[gnu::cold]] PyObject* raise_array_creation_failure()
{
    // Frozen text; NumPy's error is written out and becomes its __cause__.
    return raise_panic_printing_cause("Python API call failed");
}

PyObject* wrap_result(const StridedView& view, MappedResult& result)
{
    double* storage = result.buffer.data();
    char* data = storage != nullptr ? reinterpret_cast<char*>(storage) + result.data_offset
                                    : reinterpret_cast<char*>(&empty_result_storage);
    PyRef container =
        new_slice_container(OwnedStorage{result.buffer.release(), &release_result_storage});
    if (!container) {
        return raise_panic("Failed to create slice container");
    }
    PyArray_Descr* descriptor = PyArray_DescrFromType(NPY_FLOAT64);
    if (descriptor == nullptr) {
        return raise_array_creation_failure();
    }
    // Takes over the descriptor's reference, also when it fails.
    auto* shape = const_cast<npy_intp*>(view.shape);
    PyRef array = PyRef::steal(PyArray_NewFromDescr(&PyArray_Type, descriptor, view.ndim, shape,
                                                    result.strides.data(), data,
                                                    NPY_ARRAY_WRITEABLE, nullptr));
    if (!array) {
        return raise_array_creation_failure();
    }
    // Takes over the container's reference, also when it fails.
    auto* created = reinterpret_cast<PyArrayObject*>(array.get());
    if (PyArray_SetBaseObject(created, container.release()) != 0) {
        return nullptr;
    }
    return array.release();
}

}  // namespace

PyObject* map_to_new_array(const ArrayDescription& input, BoundRelation relation)
{
    // The result array is created from this copy of the shape: creating it allocates, a
    // collection may run finalisers then, and one of them may reshape the input.
    const StridedView view = input.view();
    MappedResult result;
    if (!map_elements(view, relation, result)) {
        return PyErr_NoMemory();
    }
    return wrap_result(view, result);
}

}  // namespace ventaroxi
