// PyRoute and route_optimal_size: pools traded one after another. Module
// attributes outside __all__.
#pragma once

#include "python/python_api.hpp"

#include "core/src/amm_curve.hpp"
#include "python/module_state.hpp"

namespace quarlen::py {

extern PyType_Spec route_spec;
extern PyMethodDef route_function_def;

// The model of a PyRoute (or subclass) instance; null for anything else.
const SharedCurve* route_curve_of(const ModuleState& state, PyObject* object) noexcept;

}  // namespace quarlen::py
