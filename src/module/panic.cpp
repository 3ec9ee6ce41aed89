#include "panic.hpp"

#include "one_time.hpp"
#include "pending_error.hpp"
#include "py_ref.hpp"

#include <structmember.h>

#include <cstddef>
#include <utility>

namespace ventaroxi {
namespace {

struct PanicObject {
    PyBaseExceptionObject exception;
    PyObject* weak_references;
};

// Instances can be weakly referenced, as those of any exception class made in Python can.
PyMemberDef panic_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(PanicObject, weak_references), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot panic_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("An internal fault of ventaroxi, raised at the interpreter boundary.")},
    {Py_tp_members, panic_members},
    {0, nullptr},
};

// Frozen: the name, and BaseException as the base, so that `except Exception` does not
// swallow a fault (ARCHITECTURE.md). Closed to Python: no attribute of the class can be set
// or deleted, so no program can give it another base (`__bases__`) or another `__new__`, and
// every fault raises exactly this class. It can still be subclassed, and its instances take
// attributes as every exception's do.
PyType_Spec panic_spec = {
    "ventaroxi.PanicException",
    sizeof(PanicObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    panic_slots,
};

CreatedOnce<PyObject> panic_class;

PyObject* create_panic_class()
{
    return PyType_FromSpecWithBases(&panic_spec, PyExc_BaseException);
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

// traceback.print_exception(error, file=stream); false, with the error pending, if it failed.
bool print_with_traceback_module(PyObject* error, PyObject* stream)
{
    const PyRef module = PyRef::steal(PyImport_ImportModule("traceback"));
    const PyRef print =
        module ? PyRef::steal(PyObject_GetAttrString(module.get(), "print_exception")) : PyRef{};
    const PyRef keywords = print ? PyRef::steal(Py_BuildValue("(s)", "file")) : PyRef{};
    if (!keywords) {
        return false;
    }
    PyObject* arguments[] = {error, stream};
    return static_cast<bool>(
        PyRef::steal(PyObject_Vectorcall(print.get(), arguments, 1, keywords.get())));
}

// Writes `error`, its traceback and the exceptions chained to it to sys.stderr, as the
// interpreter's default hook does. Not PyErr_Print: that calls sys.excepthook, which may end
// the process (or do whatever else a program put there), sets sys.last_exc, and ends the
// process itself for a SystemExit. A stream that fails is not reported (the fault that
// follows is); false, with the error pending, when the writing was interrupted or ran out of
// memory.
bool print_error(PyObject* error)
{
    const PyRef stream = PyRef::borrow(PySys_GetObject("stderr"));  // none: nowhere to write
    if (!stream || stream.get() == Py_None || print_with_traceback_module(error, stream.get())) {
        return true;
    }
    if (!set_aside_pending_error()) {
        return false;
    }
    // The traceback module is unusable here (an import that fails at shutdown, a replaced
    // module): the interpreter's own writer, which calls no hook either.
    const PyRef traceback = PyRef::steal(PyException_GetTraceback(error));
    PyErr_Display(reinterpret_cast<PyObject*>(Py_TYPE(error)), error, traceback.get());
    return true;
}

// Raises PanicException with `text`, and `cause` as its __cause__.
PyObject* raise_panic_with(PyObject* text, PyRef cause)
{
    PyObject* panic = panic_exception_class();
    if (panic == nullptr) {
        return nullptr;  // the class could not be made; that error is the one to report
    }
    PyRef instance = PyRef::steal(PyObject_CallOneArg(panic, text));
    if (!instance) {
        return nullptr;
    }
    if (cause) {
        PyException_SetCause(instance.get(), cause.release());
    }
    PyErr_SetObject(panic, instance.get());
    return nullptr;
}

}  // namespace

PyObject* raise_panic(const char* message)
{
    // An error pending here is what caused the fault; it becomes the panic's __cause__.
    PyRef cause = take_pending_exception();
    PyRef text;
    if (cause) {
        text = PyRef::steal(PyUnicode_FromFormat("%s: %s: %S", message,
                                                 Py_TYPE(cause.get())->tp_name, cause.get()));
        // A cause whose str() raises still leaves the plain message; an interrupt or an
        // out-of-memory while the text is made is what the caller gets instead.
        if (!text && !set_aside_pending_error()) {
            return nullptr;
        }
    }
    if (!text) {
        text = PyRef::steal(PyUnicode_FromString(message));
        if (!text) {
            return nullptr;
        }
    }
    return raise_panic_with(text.get(), std::move(cause));
}

PyObject* raise_panic_printing_cause(const char* message)
{
    PyRef cause = take_pending_exception();
    if (cause && !print_error(cause.get())) {
        return nullptr;
    }
    const PyRef text = PyRef::steal(PyUnicode_FromString(message));
    if (!text) {
        return nullptr;
    }
    return raise_panic_with(text.get(), std::move(cause));
}

}  // namespace ventaroxi
