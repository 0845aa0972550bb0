#include "python/errors.hpp"

#include <string>

namespace quarlen::py {

void raise_internal_fault(const ModuleState& state, const char* message) {
    PyErr_SetString(state.internal_fault, message);
}

void raise_sizing_error(const SizingError& error) {
    const std::string text = error.to_string();
    PyErr_SetString(PyExc_ValueError, text.c_str());
}

void raise_type_mismatch(PyObject* value, const char* expected) {
    if (value == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    PyRef qualname = PyRef::steal(PyType_GetQualName(Py_TYPE(value)));
    if (!qualname) return;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qualname.get(), expected);
}

namespace {

void add_note(PyObject* exception, const char* parameter) {
    PyRef note = PyRef::steal(PyUnicode_FromFormat("while processing '%s'", parameter));
    PyRef added = note ? PyRef::steal(PyObject_CallMethod(exception, "add_note", "O", note.get())) : PyRef();
    // Failing to add the note must not replace the error being reported.
    if (!added) PyErr_Clear();
}

}  // namespace

void add_parameter_note(const char* parameter) {
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exception = PyErr_GetRaisedException();
    if (exception == nullptr) return;
    add_note(exception, parameter);
    PyErr_SetRaisedException(exception);
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr) add_note(value, parameter);
    PyErr_Restore(type, value, traceback);
#endif
}

}  // namespace quarlen::py
