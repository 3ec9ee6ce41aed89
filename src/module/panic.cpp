#include "panic.hpp"

#include "one_time.hpp"
#include "py_ref.hpp"

namespace ventaroxi {
namespace {

CreatedOnce<PyObject> panic_class;

PyObject* create_panic_class()
{
    // Frozen: the name, and BaseException as the base, so that `except Exception` does not
    // swallow a fault (ARCHITECTURE.md).
    return PyErr_NewExceptionWithDoc(
        "ventaroxi.PanicException",
        "An internal fault of ventaroxi, raised at the interpreter boundary.", PyExc_BaseException,
        nullptr);
}

[[gnu::cold]] PyObject* refuse_panic_class()
{
    // Code run while this thread creates the class (a finaliser) raised a fault.
    PyErr_SetString(PyExc_RuntimeError, "PanicException is being created on this thread");
    return nullptr;
}

// Every fault raises the same class.
PyObject* panic_exception_class()
{
    return panic_class.get(create_panic_class, refuse_panic_class);
}

// Takes the pending exception, if any, as a normalised instance that carries its traceback.
// (PyErr_GetRaisedException does this in one call, but only from CPython 3.12.)
PyRef take_pending_exception()
{
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return {};
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    const PyRef owned_type = PyRef::steal(type);
    const PyRef owned_traceback = PyRef::steal(traceback);
    PyRef instance = PyRef::steal(value);
    if (instance && owned_traceback) {
        PyException_SetTraceback(instance.get(), owned_traceback.get());
    }
    return instance;
}

}  // namespace

PyObject* raise_panic(const char* message)
{
    // An error pending here is what caused the fault; it becomes the panic's __cause__.
    PyRef cause = take_pending_exception();
    PyObject* panic = panic_exception_class();
    if (panic == nullptr) {
        return nullptr;  // the class could not be made; that error is the one to report
    }
    PyRef text;
    if (cause) {
        text = PyRef::steal(PyUnicode_FromFormat("%s: %s: %S", message,
                                                 Py_TYPE(cause.get())->tp_name, cause.get()));
    }
    if (!text) {
        PyErr_Clear();  // a cause whose str() raises still leaves the plain message
        text = PyRef::steal(PyUnicode_FromString(message));
        if (!text) {
            return nullptr;
        }
    }
    PyRef instance = PyRef::steal(PyObject_CallOneArg(panic, text.get()));
    if (!instance) {
        return nullptr;
    }
    if (cause) {
        PyException_SetCause(instance.get(), cause.release());
    }
    PyErr_SetObject(panic, instance.get());
    return nullptr;
}

}  // namespace ventaroxi
