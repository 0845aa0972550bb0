#include "python/errors.hpp"

#include <iterator>
#include <string>
#include <variant>

namespace quarlen::py {

void raise_internal_fault(const ModuleState& state, const char* message) {
    PyErr_SetString(state.internal_fault, message);
}

namespace {

struct ErrorClass {
    const char* name;
    const char* doc;
};

constexpr ErrorClass kSizingErrorClass{
    "quarlen.SizingError",
    "A pool, quote or sizing that the module refused.\n\n"
    "The message is the error's text form, e.g. 'InvalidReserves { detail: \"x must be > 0, got 0\" }' or\n"
    "'NoArbitrageOpportunity', and the class derives from ValueError, so existing handlers keep working.\n"
    "Catch a subclass to tell a trade that does not pay from a pool that is wrong. detail is the\n"
    "InvalidReserves detail and iterations_attempted the DidNotConverge count; each is None otherwise."};

// In the order of SizingError::Variant's alternatives.
constexpr ErrorClass kSizingErrorKinds[] = {
    {"quarlen.InvalidReserves",
     "A parameter or an intermediate value is invalid: a reserve, a fee, a price, an index, the reference\n"
     "price, or a square root or power that could not be taken. detail says which value and shows it,\n"
     "e.g. 'x must be > 0, got 0'."},
    {"quarlen.DidNotConverge",
     "An iterative procedure stopped without settling: it hit its iteration cap, or could take no\n"
     "further step. iterations_attempted is the number of iterations it made."},
    {"quarlen.NoProfitableSize",
     "A profitable direction exists, but no admissible size is profitable once max_size caps it and\n"
     "fixed_cost is charged."},
    {"quarlen.NoArbitrageOpportunity",
     "The pool's rate for the smallest trade is not better than the reference price, so no trade in this\n"
     "direction can be profitable."},
};
static_assert(std::size(kSizingErrorKinds) == std::variant_size_v<SizingError::Variant>);

// The message as a str; the interpreter decodes the core's texts as UTF-8.
PyRef text_object(const std::string& text) {
    return PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// Sets the attribute that only this kind of error carries; the class gives
// None for the other one.
bool set_error_attribute(PyObject* exception, const SizingError& error) {
    if (const auto* invalid = std::get_if<InvalidReserves>(&error.value())) {
        PyRef detail = text_object(invalid->detail());
        return detail && PyObject_SetAttrString(exception, "detail", detail.get()) == 0;
    }
    if (const auto* unconverged = std::get_if<DidNotConverge>(&error.value())) {
        PyRef iterations = PyRef::steal(PyLong_FromUnsignedLong(unconverged->iterations_attempted));
        return iterations && PyObject_SetAttrString(exception, "iterations_attempted", iterations.get()) == 0;
    }
    return true;
}

}  // namespace

bool create_sizing_error_classes(ModuleState& state) {
    // detail and iterations_attempted live on the base class as None, so that
    // every instance has both, and pickle carries only the one that was set.
    PyRef defaults = PyRef::steal(Py_BuildValue("{sOsO}", "detail", Py_None, "iterations_attempted", Py_None));
    if (!defaults) return false;
    state.sizing_error = PyErr_NewExceptionWithDoc(kSizingErrorClass.name, kSizingErrorClass.doc, PyExc_ValueError,
                                                   defaults.get());
    if (state.sizing_error == nullptr) return false;
    for (std::size_t i = 0; i < state.sizing_error_kinds.size(); ++i) {
        state.sizing_error_kinds[i] =
            PyErr_NewExceptionWithDoc(kSizingErrorKinds[i].name, kSizingErrorKinds[i].doc, state.sizing_error, nullptr);
        if (state.sizing_error_kinds[i] == nullptr) return false;
    }
    return true;
}

void raise_sizing_error(const ModuleState& state, const SizingError& error) {
    PyObject* kind = state.sizing_error_kinds[error.value().index()];
    PyRef message = text_object(error.to_string());
    if (!message) return;
    PyRef exception = PyRef::steal(PyObject_CallOneArg(kind, message.get()));
    if (!exception || !set_error_attribute(exception.get(), error)) return;
    PyErr_SetObject(kind, exception.get());
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
