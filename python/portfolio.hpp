// The module function portfolio_optimize.
#pragma once

#include "python/module_state.hpp"

namespace quarlen::py {

PyObject* portfolio_optimize_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quarlen::py
