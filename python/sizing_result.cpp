// SizingResult: the answer of an optimal-size call. Its Decimals and its
// detail dict are built once, when the object is created, and every read
// returns those same objects.
#include "python/results.hpp"

#include <cstdint>
#include <limits>
#include <string_view>

#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/heap_type.hpp"
#include "python/pickling.hpp"

namespace quarlen::py {

namespace {

struct SizingResultObject {
    PyObject_HEAD
    PyObject* optimal_delta;
    PyObject* expected_profit;
    PyObject* tier_detail;  // a dict the caller may change; later reads see the change
    const char* tier_name;  // one of the four tier names (static text)
    bool has_iterations;
    std::uint32_t iterations;
};

SizingResultObject* as_result(PyObject* self) { return reinterpret_cast<SizingResultObject*>(self); }

// {} / {"convergence_conditions_met": b} / {"unimodality_confirmed": b} /
// {"legs": [names]}.
PyObject* new_tier_detail(const GuaranteeTier& tier) {
    PyRef detail = PyRef::steal(PyDict_New());
    if (!detail) return nullptr;
    const GuaranteeTier::Variant& value = tier.value();
    if (const auto* numeric = std::get_if<NumericallyGuaranteed>(&value)) {
        if (PyDict_SetItemString(detail.get(), "convergence_conditions_met",
                                 numeric->convergence_conditions_met ? Py_True : Py_False) < 0)
            return nullptr;
    } else if (const auto* empirical = std::get_if<EmpiricallyValidated>(&value)) {
        if (PyDict_SetItemString(detail.get(), "unimodality_confirmed",
                                 empirical->unimodality_confirmed ? Py_True : Py_False) < 0)
            return nullptr;
    } else if (const auto* composed = std::get_if<ComposedFrom>(&value)) {
        PyRef legs = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(composed->legs.size())));
        if (!legs) return nullptr;
        Py_ssize_t position = 0;
        for (const GuaranteeTier& leg : composed->legs) {
            const std::string_view name = leg.name();
            PyObject* text = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
            if (text == nullptr) return nullptr;
            PyList_SET_ITEM(legs.get(), position++, text);
        }
        if (PyDict_SetItemString(detail.get(), "legs", legs.get()) < 0) return nullptr;
    }
    return detail.release();
}

int result_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_result(self)->optimal_delta);
    Py_VISIT(as_result(self)->expected_profit);
    Py_VISIT(as_result(self)->tier_detail);
    return 0;
}

int result_clear(PyObject* self) {
    Py_CLEAR(as_result(self)->optimal_delta);
    Py_CLEAR(as_result(self)->expected_profit);
    Py_CLEAR(as_result(self)->tier_detail);
    return 0;
}

void result_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    result_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* stored(PyObject* object) {
    // Only reachable after a tp_clear broke a cycle.
    if (object == nullptr) Py_RETURN_NONE;
    return Py_NewRef(object);
}

PyObject* get_optimal_delta(PyObject* self, void*) { return stored(as_result(self)->optimal_delta); }
PyObject* get_expected_profit(PyObject* self, void*) { return stored(as_result(self)->expected_profit); }
PyObject* get_tier_detail(PyObject* self, void*) { return stored(as_result(self)->tier_detail); }
PyObject* get_tier(PyObject* self, void*) { return PyUnicode_FromString(as_result(self)->tier_name); }
PyObject* get_iterations(PyObject* self, void*) {
    if (!as_result(self)->has_iterations) Py_RETURN_NONE;
    return PyLong_FromUnsignedLong(as_result(self)->iterations);
}

PyObject* result_repr(PyObject* self) {
    SizingResultObject* result = as_result(self);
    PyRef iterations = PyRef::steal(get_iterations(self, nullptr));
    if (!iterations) return nullptr;
    return PyUnicode_FromFormat(
        "SizingResult(optimal_delta=%R, expected_profit=%R, guarantee_tier='%s', guarantee_tier_detail=%R, "
        "iterations=%R)",
        result->optimal_delta ? result->optimal_delta : Py_None,
        result->expected_profit ? result->expected_profit : Py_None, result->tier_name,
        result->tier_detail ? result->tier_detail : Py_None, iterations.get());
}

// Whether two stored objects are equal; either may be null after a tp_clear
// broke a cycle. Returns -1 with an exception set when the comparison raised
// (the detail dict may hold anything a caller put there).
int same_stored(PyObject* a, PyObject* b) {
    if (a == nullptr || b == nullptr) return a == b ? 1 : 0;
    return PyObject_RichCompareBool(a, b, Py_EQ);
}

// Equal when every attribute is: the Decimals by value (1.5 equals 1.50),
// the tier, the detail dict as it is now, the iterations. A result of
// another class is left to the other operand.
PyObject* result_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
    const SizingResultObject* left = as_result(self);
    const SizingResultObject* right = as_result(other);
    int equal = (std::string_view(left->tier_name) == right->tier_name &&
                 left->has_iterations == right->has_iterations && left->iterations == right->iterations)
                    ? 1
                    : 0;
    if (equal == 1) equal = same_stored(left->optimal_delta, right->optimal_delta);
    if (equal == 1) equal = same_stored(left->expected_profit, right->expected_profit);
    if (equal == 1) equal = same_stored(left->tier_detail, right->tier_detail);
    if (equal < 0) return nullptr;
    return PyBool_FromLong((equal == 1) == (op == Py_EQ) ? 1 : 0);
}

PyGetSetDef result_getset[] = {
    {"optimal_delta", get_optimal_delta, nullptr, "The input size chosen, after max_size (decimal.Decimal).", nullptr},
    {"expected_profit", get_expected_profit, nullptr, "The profit at optimal_delta, net of fixed_cost (decimal.Decimal).",
     nullptr},
    {"guarantee_tier", get_tier, nullptr, "How strongly the size is known to be optimal (str).", nullptr},
    {"guarantee_tier_detail", get_tier_detail, nullptr, "The tier's evidence (dict).", nullptr},
    {"iterations", get_iterations, nullptr, "Iterations the search used, or None for closed forms.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef result_methods[] = {
    record_reduce_method(),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot result_slots[] = {
    {Py_tp_doc, const_cast<char*>("Result of an individual AMM sizing calculation.")},
    {Py_tp_methods, result_methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(result_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(result_clear)},
    {Py_tp_getset, result_getset},
    {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(result_richcompare)},
    // Unhashable (__hash__ is None): equality includes the detail dict,
    // which callers may change.
    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
    {0, nullptr},
};

}  // namespace

PyType_Spec sizing_result_spec = type_spec(
    "quarlen.SizingResult", sizeof(SizingResultObject),
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    result_slots);

namespace {

// A new SizingResult owning the given converted values; `tier_name` is one
// of the core's static tier names.
PyObject* new_result_object(PyTypeObject* type, PyRef optimal_delta, PyRef expected_profit, std::string_view tier_name,
                            PyRef detail, std::optional<std::uint32_t> iterations) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    SizingResultObject* object = as_result(self);
    object->optimal_delta = optimal_delta.release();
    object->expected_profit = expected_profit.release();
    object->tier_detail = detail.release();
    object->tier_name = tier_name.data();
    object->has_iterations = iterations.has_value();
    object->iterations = iterations.value_or(0);
    return self;
}

// (optimal_delta, expected_profit, guarantee_tier, guarantee_tier_detail,
// iterations): the values the attributes read, the detail dict as it is now.
PyObject* result_state(PyObject* self) {
    PyRef optimal_delta = PyRef::steal(get_optimal_delta(self, nullptr));
    PyRef expected_profit = PyRef::steal(get_expected_profit(self, nullptr));
    PyRef tier = PyRef::steal(get_tier(self, nullptr));
    PyRef detail = PyRef::steal(get_tier_detail(self, nullptr));
    PyRef iterations = PyRef::steal(get_iterations(self, nullptr));
    if (!optimal_delta || !expected_profit || !tier || !detail || !iterations) return nullptr;
    return PyTuple_Pack(5, optimal_delta.get(), expected_profit.get(), tier.get(), detail.get(), iterations.get());
}

// The inverse of result_state. The detail is copied, so that a copy.copy of a
// result does not share its dict with the original.
PyObject* result_restore(const ModuleState& state, PyTypeObject* type, PyObject* values) {
    const std::optional<Decimal> optimal_delta = to_decimal(PyTuple_GET_ITEM(values, 0), "optimal_delta");
    if (!optimal_delta) return nullptr;
    const std::optional<Decimal> expected_profit = to_decimal(PyTuple_GET_ITEM(values, 1), "expected_profit");
    if (!expected_profit) return nullptr;
    const std::optional<std::string_view> tier_name = tier_name_of(PyTuple_GET_ITEM(values, 2));
    if (!tier_name) return nullptr;
    PyObject* detail = PyTuple_GET_ITEM(values, 3);
    if (!PyDict_Check(detail)) {
        raise_type_mismatch(detail, "dict");
        return nullptr;
    }
    PyObject* iterations_object = PyTuple_GET_ITEM(values, 4);
    std::optional<std::uint32_t> iterations;
    if (iterations_object != Py_None) {
        const unsigned long value = PyLong_AsUnsignedLong(iterations_object);
        if (PyErr_Occurred()) return nullptr;
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            PyErr_SetString(PyExc_OverflowError, "iterations out of range");
            return nullptr;
        }
        iterations = static_cast<std::uint32_t>(value);
    }
    PyRef delta_object = PyRef::steal(from_decimal(state, *optimal_delta));
    if (!delta_object) return nullptr;
    PyRef profit_object = PyRef::steal(from_decimal(state, *expected_profit));
    if (!profit_object) return nullptr;
    PyRef detail_copy = PyRef::steal(PyDict_Copy(detail));
    if (!detail_copy) return nullptr;
    return new_result_object(type, std::move(delta_object), std::move(profit_object), *tier_name,
                             std::move(detail_copy), iterations);
}

}  // namespace

const RecordCodec kSizingResultCodec{&ModuleState::sizing_result_type, 5, result_state, result_restore};

PyObject* new_sizing_result(const ModuleState& state, const SizingResult& result) {
    // Converted in this order: optimal_delta, expected_profit, the tier, its detail.
    PyRef optimal_delta = PyRef::steal(from_decimal(state, result.optimal_delta));
    if (!optimal_delta) return nullptr;
    PyRef expected_profit = PyRef::steal(from_decimal(state, result.expected_profit));
    if (!expected_profit) return nullptr;
    PyRef detail = PyRef::steal(new_tier_detail(result.guarantee_tier));
    if (!detail) return nullptr;
    return new_result_object(state.sizing_result_type, std::move(optimal_delta), std::move(expected_profit),
                             result.guarantee_tier.name(), std::move(detail), result.iterations);
}

}  // namespace quarlen::py
