// The classes that carry results back to Python (SizingResult,
// PortfolioResult, AllocatedPosition) and the PySizingConstraints wrapper.
#pragma once

#include "python/python_api.hpp"

#include "core/src/portfolio.hpp"
#include "python/module_state.hpp"

namespace quarlen::py {

extern PyType_Spec sizing_result_spec;
extern PyType_Spec portfolio_result_spec;
extern PyType_Spec allocated_position_spec;
extern PyType_Spec constraints_spec;

// A new SizingResult object; its Decimals and detail dict are built once here.
PyObject* new_sizing_result(const ModuleState& state, const SizingResult& result);

// A new PortfolioResult object owning the result.
PyObject* new_portfolio_result(const ModuleState& state, PortfolioResult result);

}  // namespace quarlen::py
