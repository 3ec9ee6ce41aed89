#include "slice_container.hpp"

#include "one_time.hpp"

namespace ventaroxi {
namespace {

struct SliceContainer {
    PyObject_HEAD
    OwnedStorage storage;
};

void slice_container_dealloc(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    const OwnedStorage& storage = reinterpret_cast<SliceContainer*>(self)->storage;
    // Only new_slice_container makes instances, and always with storage; an instance made
    // some other way would hold none, and must still go quietly.
    if (storage.release != nullptr) {
        storage.release(storage.data);
    }
    PyBaseObject_Type.tp_free(self);
    Py_DECREF(type);  // instances of a heap type hold a reference to it
}

PyType_Slot slice_container_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&slice_container_dealloc)},
    {Py_tp_doc,
     const_cast<char*>("A utility type that safely keeps an owned buffer on the Python heap.")},
    {0, nullptr},
};

// The dotted name puts the class in `builtins`, as its __module__ reports. Frozen: callers
// check the type of a result's base by this name (ARCHITECTURE.md). Closed to Python: no
// instances from Python (no tp_new, and object.__new__ refuses a type whose tp_new is not
// its own), no attribute of the type can be set or deleted (so no __new__ can be given to
// it), and no subclass (no Py_TPFLAGS_BASETYPE).
PyType_Spec slice_container_spec = {
    "builtins.PySliceContainer",
    sizeof(SliceContainer),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    slice_container_slots,
};

CreatedOnce<PyTypeObject> container_type;

PyTypeObject* create_container_type()
{
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&slice_container_spec));
}

[[gnu::cold]] PyTypeObject* refuse_container_type()
{
    // Code run while this thread creates the type (a finaliser) called the module.
    PyErr_SetString(PyExc_RuntimeError, "PySliceContainer is being created on this thread");
    return nullptr;
}

}  // namespace

PyRef new_slice_container(OwnedStorage storage)
{
    PyTypeObject* type = container_type.get(create_container_type, refuse_container_type);
    SliceContainer* container = type != nullptr ? PyObject_New(SliceContainer, type) : nullptr;
    if (container == nullptr) {
        storage.release(storage.data);
        return {};
    }
    container->storage = storage;
    return PyRef::steal(reinterpret_cast<PyObject*>(container));
}

}  // namespace ventaroxi
