// The interpreter's C API. CPython's headers define feature macros that
// change what the standard headers declare, so they must come before any of
// them: every header of the module includes this one first, and every source
// starts with a header of the module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
