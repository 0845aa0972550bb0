// The module: its definition, and the execution step that registers the
// classes and functions.
#include "python/python_api.hpp"

#include "python/errors.hpp"
#include "python/module_state.hpp"
#include "python/pickling.hpp"
#include "python/pools.hpp"
#include "python/portfolio.hpp"
#include "python/results.hpp"
#include "python/route.hpp"

namespace quarlen::py {

namespace {

// Adds `object` as a module attribute and appends its name to __all__
// (unless `all` is null: an attribute outside __all__).
bool publish(PyObject* module, PyObject* all, const char* name, PyObject* object) {
    if (PyModule_AddObjectRef(module, name, object) < 0) return false;
    if (all == nullptr) return true;
    PyRef text = PyRef::steal(PyUnicode_FromString(name));
    return text && PyList_Append(all, text.get()) == 0;
}

PyTypeObject* publish_type(PyObject* module, PyObject* all, PyType_Spec* spec) {
    PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, spec, nullptr));
    if (!type) return nullptr;
    PyRef name = PyRef::steal(PyType_GetName(reinterpret_cast<PyTypeObject*>(type.get())));
    if (!name) return nullptr;
    const char* text = PyUnicode_AsUTF8(name.get());
    if (text == nullptr || !publish(module, all, text, type.get())) return nullptr;
    // The module state keeps its own reference; the type lives as long as the module.
    return reinterpret_cast<PyTypeObject*>(type.release());
}

bool publish_function(PyObject* module, PyObject* all, PyMethodDef* definition) {
    // With __module__ set, pickle (and so any process pool) finds the
    // function by its module and name.
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return false;
    PyRef function = PyRef::steal(PyCFunction_NewEx(definition, module, module_name.get()));
    return function && publish(module, all, definition->ml_name, function.get());
}

PyMethodDef portfolio_definition = {
    "portfolio_optimize",
    as_function(portfolio_optimize_function),
    METH_FASTCALL | METH_KEYWORDS,
    "portfolio_optimize(total_capital_budget, opportunities)\n--\n\n",
};

// __all__, created when missing.
PyRef all_list(PyObject* module) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (all) return all;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return PyRef();
    return all;
}

int execute(PyObject* module) {
    ModuleState& state = module_state(module);
    PyRef all = all_list(module);
    if (!all) return -1;

    for (const PoolFamily* family : kPoolFamilies) {
        if (family->parameters.size() > max_pool_parameters()) {
            PyErr_Format(PyExc_SystemError, "%s declares too many parameters", family->function_name);
            return -1;
        }
    }

    PyRef decimal_module = PyRef::steal(PyImport_ImportModule("decimal"));
    if (!decimal_module) return -1;
    state.decimal_class = PyObject_GetAttrString(decimal_module.get(), "Decimal");
    if (state.decimal_class == nullptr) return -1;

    state.internal_fault = PyErr_NewExceptionWithDoc(
        "quarlen.InternalFault",
        "An internal fault of the exact arithmetic (an overflow or a division by zero) that aborted the call.\n\n"
        "It derives from BaseException, not Exception, so that a handler for Exception does not swallow it;\n"
        "catch quarlen.InternalFault by name.",
        PyExc_BaseException, nullptr);
    if (state.internal_fault == nullptr) return -1;
    if (!create_sizing_error_classes(state)) return -1;

    // Registration order is the order of __all__: the four record classes,
    // the pool classes, the sizing functions, portfolio_optimize.
    if (!(state.sizing_result_type = publish_type(module, all.get(), &sizing_result_spec))) return -1;
    if (!(state.constraints_type = publish_type(module, all.get(), &constraints_spec))) return -1;
    if (!(state.allocated_position_type = publish_type(module, all.get(), &allocated_position_spec))) return -1;
    if (!(state.portfolio_result_type = publish_type(module, all.get(), &portfolio_result_spec))) return -1;
    const std::span<PyType_Spec* const> pool_specs = pool_type_specs();
    for (std::size_t i = 0; i < pool_specs.size(); ++i) {
        if (!(state.pool_types[i] = publish_type(module, all.get(), pool_specs[i]))) return -1;
    }
    for (PyMethodDef* definition : pool_function_defs()) {
        if (!publish_function(module, all.get(), definition)) return -1;
    }
    if (!publish_function(module, all.get(), &portfolio_definition)) return -1;

    // Routes, outside __all__, which keeps the documented 23 names.
    if (!(state.route_type = publish_type(module, nullptr, &route_spec))) return -1;
    if (!publish_function(module, nullptr, &route_function_def)) return -1;

    // Not part of __all__: the exception classes, for callers that catch them
    // by name (and for pickle, which finds them by their module and name);
    // the version; and the function the result classes pickle through.
    if (PyModule_AddObjectRef(module, "InternalFault", state.internal_fault) < 0) return -1;
    if (PyModule_AddObjectRef(module, "SizingError", state.sizing_error) < 0) return -1;
    for (PyObject* kind : state.sizing_error_kinds) {
        PyRef name = PyRef::steal(PyType_GetName(reinterpret_cast<PyTypeObject*>(kind)));
        const char* text = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
        if (text == nullptr || PyModule_AddObjectRef(module, text, kind) < 0) return -1;
    }
    if (PyModule_AddStringConstant(module, "__version__", QUARLEN_VERSION) < 0) return -1;
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    state.restore_function = PyCFunction_NewEx(&restore_definition, module, module_name.get());
    if (state.restore_function == nullptr) return -1;
    return PyModule_AddObjectRef(module, restore_definition.ml_name, state.restore_function);
}

int traverse(PyObject* module, visitproc visit, void* arg) {
    ModuleState& state = module_state(module);
    Py_VISIT(state.sizing_result_type);
    Py_VISIT(state.constraints_type);
    Py_VISIT(state.allocated_position_type);
    Py_VISIT(state.portfolio_result_type);
    for (PyTypeObject* type : state.pool_types) Py_VISIT(type);
    Py_VISIT(state.route_type);
    Py_VISIT(state.internal_fault);
    Py_VISIT(state.sizing_error);
    for (PyObject* kind : state.sizing_error_kinds) Py_VISIT(kind);
    Py_VISIT(state.decimal_class);
    Py_VISIT(state.restore_function);
    return 0;
}

int clear(PyObject* module) {
    ModuleState& state = module_state(module);
    Py_CLEAR(state.sizing_result_type);
    Py_CLEAR(state.constraints_type);
    Py_CLEAR(state.allocated_position_type);
    Py_CLEAR(state.portfolio_result_type);
    for (PyTypeObject*& type : state.pool_types) Py_CLEAR(type);
    Py_CLEAR(state.route_type);
    Py_CLEAR(state.internal_fault);
    Py_CLEAR(state.sizing_error);
    for (PyObject*& kind : state.sizing_error_kinds) Py_CLEAR(kind);
    Py_CLEAR(state.decimal_class);
    Py_CLEAR(state.restore_function);
    return 0;
}

void free_module(void* module) { clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute)},
#ifdef Py_mod_gil
    // Everything the module shares between calls is immutable after execution.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

// What help(quarlen) shows first; the reference documentation lives in the
// README and in the docstrings of the type stubs.
constexpr const char* kModuleDoc =
    "Exact-decimal trade sizing against automated-market-maker pools.\n"
    "\n"
    "Nine pool families each have a class (PyCpmm, PyStableSwap, PyPmm, PyConcentratedLiquidity,\n"
    "PyBalancerWeightedPool, PyVelodromeStable, PyDlmmBook, PyCurveCryptoSwap, PyDodoPmm) whose quote()\n"
    "gives the pool's output for an input and whose optimal_size() finds the input that maximises the\n"
    "profit against a reference price, and a <family>_optimal_size function that does the same without\n"
    "creating the pool object. PyRoute (and route_optimal_size) chains pools, each leg's output paid\n"
    "into the next, and quotes and sizes the chain like one pool. portfolio_optimize splits one capital\n"
    "budget across many such opportunities through a single shadow price on capital. Every number is\n"
    "an exact 96-bit decimal (at most 28 digits after the point, no floating point): it is read from any\n"
    "value whose str() is a decimal number and returned as a decimal.Decimal that keeps its scale.\n"
    "\n"
    "The README and the docstrings of the type stubs that ship with the package document every class,\n"
    "function, parameter and error; help() on a class shows its signature and methods.";

}  // namespace

PyModuleDef quarlen_module_def = {
    PyModuleDef_HEAD_INIT,
    "quarlen",
    kModuleDoc,
    static_cast<Py_ssize_t>(sizeof(ModuleState)),
    nullptr,
    module_slots,
    traverse,
    clear,
    free_module,
};

}  // namespace quarlen::py

PyMODINIT_FUNC PyInit_quarlen() { return PyModuleDef_Init(&quarlen::py::quarlen_module_def); }
