// PySizingConstraints: a fixed_cost / max_size record. It can be built and
// shown, nothing more; the sizing calls take the two values as arguments.
#include "python/arguments.hpp"
#include "python/boxed.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/pickling.hpp"
#include "python/results.hpp"
#include "python/heap_type.hpp"

namespace quarlen::py {

namespace {

constexpr Parameter kParameters[] = {{"fixed_cost"}, {"max_size"}};
constexpr Signature kSignature{nullptr, "PySizingConstraints", kParameters, {}, 0};

PyObject* constraints_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded(state_of_type(type), [&]() -> PyObject* {
        PyRef bound[2];
        if (!bind_arguments(kSignature, args, kwargs, bound)) return nullptr;
        std::optional<SizingConstraints> constraints = to_constraints(bound[0].get(), bound[1].get());
        if (!constraints) return nullptr;
        return box(type, std::move(*constraints));
    });
}

PyObject* constraints_repr(PyObject* self) {
    const SizingConstraints& constraints = unbox<SizingConstraints>(self);
    const std::string fixed_cost = constraints.fixed_cost.to_string();
    if (!constraints.max_size) {
        return PyUnicode_FromFormat("PySizingConstraints(fixed_cost=Decimal('%s'), max_size=None)", fixed_cost.c_str());
    }
    const std::string max_size = constraints.max_size->to_string();
    return PyUnicode_FromFormat("PySizingConstraints(fixed_cost=Decimal('%s'), max_size=Decimal('%s'))",
                                fixed_cost.c_str(), max_size.c_str());
}

// The constructor's arguments: (fixed_cost, max_size), max_size None when absent.
PyObject* constraints_state(PyObject* self) {
    const SizingConstraints& constraints = unbox<SizingConstraints>(self);
    const ModuleState& state = state_of_type(Py_TYPE(self));
    PyRef fixed_cost = PyRef::steal(from_decimal(state, constraints.fixed_cost));
    if (!fixed_cost) return nullptr;
    PyRef max_size = constraints.max_size ? PyRef::steal(from_decimal(state, *constraints.max_size))
                                          : PyRef::borrow(Py_None);
    if (!max_size) return nullptr;
    return PyTuple_Pack(2, fixed_cost.get(), max_size.get());
}

PyMethodDef constraints_methods[] = {
    record_reduce_method(),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot constraints_slots[] = {
    {Py_tp_doc, const_cast<char*>("PySizingConstraints(fixed_cost=None, max_size=None)\n--\n\nSizing constraints wrapper.")},
    {Py_tp_new, reinterpret_cast<void*>(constraints_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<SizingConstraints>)},
    {Py_tp_repr, reinterpret_cast<void*>(constraints_repr)},
    {Py_tp_methods, constraints_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec constraints_spec =
    type_spec("quarlen.PySizingConstraints", sizeof(Boxed<SizingConstraints>),
              Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE, constraints_slots);

// Rebuilt by calling the class with the state as arguments.
const RecordCodec kConstraintsCodec{&ModuleState::constraints_type, 2, constraints_state, nullptr};

}  // namespace quarlen::py
