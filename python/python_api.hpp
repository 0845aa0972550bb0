// The interpreter's C API. CPython's headers define feature macros that
// change what the standard headers declare, so they must come before any of
// them: every header of the module includes this one first, and every source
// starts with a header of the module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quarlen::py {

// A C function of any of the calling conventions, as the PyCFunction that
// PyMethodDef holds: the interpreter calls it through the generic pointer
// type, cast back by the flags beside it.
template <class Function>
PyCFunction as_function(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace quarlen::py
