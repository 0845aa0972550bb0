// What the module holds for its functions and methods: its class objects, its
// exception classes and the standard decimal.Decimal class. All of it
// is set once while the module executes and only read afterwards, so calls on
// any number of threads share it without a lock.
#pragma once

#include "core/src/sizing_error.hpp"
#include "python/families.hpp"
#include "python/pyref.hpp"

#include <array>
#include <cstddef>

namespace quarlen::py {

struct ModuleState {
    PyTypeObject* sizing_result_type;
    PyTypeObject* constraints_type;
    PyTypeObject* allocated_position_type;
    PyTypeObject* portfolio_result_type;
    // The pool classes in registration order, which is also the order in
    // which the portfolio tries them.
    std::array<PyTypeObject*, kPoolFamilies.size()> pool_types;
    PyTypeObject* route_type;  // PyRoute, tried by the portfolio after the pool classes
    PyObject* internal_fault;  // derives from BaseException
    PyObject* sizing_error;    // quarlen.SizingError, a ValueError
    // Its subclasses, one per kind of core error, in the order of
    // SizingError::Variant's alternatives.
    std::array<PyObject*, std::variant_size_v<SizingError::Variant>> sizing_error_kinds;
    PyObject* decimal_class;   // decimal.Decimal
    PyObject* restore_function;  // quarlen._restore, what the result classes pickle through
};

extern PyModuleDef quarlen_module_def;

inline ModuleState& module_state(PyObject* module) {
    return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// The state of the module that defined `type` or one of its bases; works for
// Python subclasses of our classes as well.
inline ModuleState& state_of_type(PyTypeObject* type) {
    return module_state(PyType_GetModuleByDef(type, &quarlen_module_def));
}

// The state of the module whose class defines a METH_METHOD method.
inline const ModuleState& state_of_method(PyTypeObject* defining_class) {
    return *static_cast<const ModuleState*>(PyType_GetModuleState(defining_class));
}

}  // namespace quarlen::py
