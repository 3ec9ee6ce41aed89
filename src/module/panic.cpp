#include "panic.hpp"

#include "one_time.hpp"
#include "py_ref.hpp"

#include <atomic>

namespace ventaroxi {
namespace {

OneTimeMutex creation_mutex;
std::atomic<PyObject*> panic_class{nullptr};

PyObject* panic_exception_class()
{
    if (PyObject* created = panic_class.load(std::memory_order_acquire)) {
        return created;
    }
    const OneTimeLock guard(creation_mutex);
    if (!guard.held()) {
        // Code run while this thread creates the class (a finaliser) raised a fault.
        PyErr_SetString(PyExc_RuntimeError, "PanicException is being created on this thread");
        return nullptr;
    }
    if (PyObject* created = panic_class.load(std::memory_order_acquire)) {
        return created;
    }
    // Frozen: the name, and BaseException as the base, so that `except Exception` does not
    // swallow a fault (ARCHITECTURE.md).
    PyObject* created = PyErr_NewExceptionWithDoc(
        "ventaroxi.PanicException",
        "An internal fault of ventaroxi, raised at the interpreter boundary.", PyExc_BaseException,
        nullptr);
    if (created != nullptr) {
        // Kept for the life of the process: every fault raises the same class.
        panic_class.store(created, std::memory_order_release);
    }
    return created;
}

// Takes the pending exception, if any, as a normalised instance.
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
    if (value != nullptr && traceback != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return PyRef::steal(value);
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
