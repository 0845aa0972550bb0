#include "python/pickling.hpp"

#include <array>

#include "core/src/sizing.hpp"
#include "python/errors.hpp"

namespace quarlen::py {

namespace {

// Every class that pickles through this file. Adding one: give it a codec
// next to its class, list it here, and put record_reduce_method() in its
// methods.
constexpr std::array kRecordCodecs{
    &kConstraintsCodec,
    &kSizingResultCodec,
    &kAllocatedPositionCodec,
    &kPortfolioResultCodec,
};

// The codec of the class `self` is an instance of (a subclass counts).
const RecordCodec* codec_of_instance(const ModuleState& state, PyObject* self) {
    for (const RecordCodec* codec : kRecordCodecs) {
        if (PyObject_TypeCheck(self, state.*(codec->type))) return codec;
    }
    return nullptr;
}

PyObject* record_reduce(PyObject* self, PyTypeObject* defining_class, PyObject* const*, std::size_t nargsf,
                        PyObject* kwnames) {
    if (!reduce_takes_no_arguments(nargsf, kwnames)) return nullptr;
    const ModuleState& state = state_of_method(defining_class);
    const RecordCodec* codec = codec_of_instance(state, self);
    if (codec == nullptr) {
        PyErr_Format(PyExc_TypeError, "cannot reduce '%s' object", Py_TYPE(self)->tp_name);
        return nullptr;
    }
    PyRef values = PyRef::steal(codec->state(self));
    if (!values) return nullptr;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if (codec->restore == nullptr) return Py_BuildValue("(OO)", type, values.get());
    return Py_BuildValue("(O(OO))", state.restore_function, type, values.get());
}

// _restore(cls, state): the object `cls`'s codec builds from `state`. Only
// the exact classes that cannot be called directly are accepted, and every
// value is checked as if it came from a caller, since a pickle can be forged.
PyObject* restore_record(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    const ModuleState& state = module_state(module);
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "_restore() takes exactly 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    for (const RecordCodec* codec : kRecordCodecs) {
        PyTypeObject* type = state.*(codec->type);
        if (codec->restore == nullptr || args[0] != reinterpret_cast<PyObject*>(type)) continue;
        PyObject* values = args[1];
        if (!PyTuple_Check(values) || PyTuple_GET_SIZE(values) != codec->arity) {
            PyErr_Format(PyExc_TypeError, "%s state must be a tuple of %zd items", type->tp_name, codec->arity);
            return nullptr;
        }
        return guarded(state, [&]() -> PyObject* { return codec->restore(state, type, values); });
    }
    PyErr_SetString(PyExc_TypeError, "_restore() cannot build objects of this class");
    return nullptr;
}

}  // namespace

bool reduce_takes_no_arguments(std::size_t nargsf, PyObject* kwnames) {
    if (PyVectorcall_NARGS(nargsf) == 0 && (kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0)) return true;
    PyErr_SetString(PyExc_TypeError, "__reduce__() takes no arguments");
    return false;
}

PyMethodDef record_reduce_method() noexcept {
    return {"__reduce__", as_function(record_reduce),
            METH_METHOD | METH_FASTCALL | METH_KEYWORDS, "Pickle support: a callable and its arguments."};
}

PyMethodDef restore_definition = {
    "_restore",
    as_function(restore_record),
    METH_FASTCALL,
    // Like every docstring of the module, the text signature alone; the stubs
    // carry the documentation.
    "_restore(cls, state, /)\n--\n\n",
};

std::optional<std::string_view> tier_name_of(PyObject* text) {
    if (!PyUnicode_Check(text)) {
        raise_type_mismatch(text, "str");
        return std::nullopt;
    }
    // The core's own names, so the restored text is the very literal a fresh
    // result points at.
    static const GuaranteeTier kTiers[] = {ProvenOptimal{}, NumericallyGuaranteed{}, EmpiricallyValidated{},
                                           ComposedFrom{}};
    for (const GuaranteeTier& tier : kTiers) {
        const std::string_view name = tier.name();
        if (PyUnicode_CompareWithASCIIString(text, name.data()) == 0) return name;
    }
    PyErr_Format(PyExc_ValueError, "unknown guarantee tier %R", text);
    return std::nullopt;
}

}  // namespace quarlen::py
