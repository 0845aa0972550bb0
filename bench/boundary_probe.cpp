// The bare boundary cost of a call into the extension, as a module of its
// own: every argument converted with str() and read as UTF-8 (sequences and
// mappings are walked, as the pool constructors walk them), then the given
// number of decimal.Decimal results built from text. No curve work at all;
// the Python benchmark divides a real call's time by this one's.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

PyObject* g_decimal_class = nullptr;  // decimal.Decimal, looked up once

bool convert(PyObject* value) {
    if (PyList_Check(value) || PyTuple_Check(value)) {
        PyObject* items = PySequence_Fast(value, "");
        if (items == nullptr) return false;
        bool ok = true;
        for (Py_ssize_t i = 0; ok && i < PySequence_Fast_GET_SIZE(items); ++i)
            ok = convert(PySequence_Fast_GET_ITEM(items, i));
        Py_DECREF(items);
        return ok;
    }
    if (PyDict_Check(value)) {
        Py_ssize_t position = 0;
        PyObject *key, *item;
        while (PyDict_Next(value, &position, &key, &item)) {
            if (!convert(item)) return false;
        }
        return true;
    }
    PyObject* text = PyObject_Str(value);
    if (text == nullptr) return false;
    Py_ssize_t length = 0;
    const bool ok = PyUnicode_AsUTF8AndSize(text, &length) != nullptr;
    Py_DECREF(text);
    return ok;
}

// boundary(results, *arguments) -> the last Decimal built (or None)
PyObject* boundary(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 1) {
        PyErr_SetString(PyExc_TypeError, "boundary(results, *arguments)");
        return nullptr;
    }
    const long results = PyLong_AsLong(args[0]);
    if (results < 0 && PyErr_Occurred()) return nullptr;
    for (Py_ssize_t i = 1; i < nargs; ++i) {
        if (!convert(args[i])) return nullptr;
    }
    PyObject* last = Py_NewRef(Py_None);
    static const char kText[] = "1234.5678901234567890123456";
    for (long i = 0; i < results; ++i) {
        PyObject* text = PyUnicode_FromStringAndSize(kText, sizeof kText - 1);
        if (text == nullptr) return nullptr;
        PyObject* decimal = PyObject_CallOneArg(g_decimal_class, text);
        Py_DECREF(text);
        if (decimal == nullptr) return nullptr;
        Py_SETREF(last, decimal);
    }
    return last;
}

PyMethodDef methods[] = {
    {"boundary", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(boundary)), METH_FASTCALL,
     "boundary(results, *arguments)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "quarlen_bench_probe", nullptr, -1, methods,
                          nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_quarlen_bench_probe() {
    PyObject* decimal_module = PyImport_ImportModule("decimal");
    if (decimal_module == nullptr) return nullptr;
    g_decimal_class = PyObject_GetAttrString(decimal_module, "Decimal");
    Py_DECREF(decimal_module);
    if (g_decimal_class == nullptr) return nullptr;
    return PyModule_Create(&module_def);
}
