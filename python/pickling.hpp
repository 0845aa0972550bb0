// How the record classes (PySizingConstraints and the three result classes)
// travel by value: pickle, copy and deepcopy take an object apart into plain
// Python values and build an equal one from them, so results can be sent to
// worker processes. One registry lists the classes; one __reduce__ and one
// module-level restore function serve them all.
#pragma once

#include "python/python_api.hpp"

#include <cstddef>
#include <optional>
#include <string_view>

#include "python/module_state.hpp"

namespace quarlen::py {

struct RecordCodec {
    PyTypeObject* ModuleState::*type;  // the class, as the module state holds it
    Py_ssize_t arity;                  // the length of the state tuple
    // A new tuple of `arity` plain values (Decimals, str, int, dict, tuples).
    PyObject* (*state)(PyObject* self);
    // A new object of `type` from such a tuple, or null with an exception set.
    // Null for a class whose constructor takes the state tuple as arguments:
    // its objects reduce to the class itself.
    PyObject* (*restore)(const ModuleState& module, PyTypeObject* type, PyObject* state);
};

extern const RecordCodec kConstraintsCodec;
extern const RecordCodec kSizingResultCodec;
extern const RecordCodec kAllocatedPositionCodec;
extern const RecordCodec kPortfolioResultCodec;

// False, with the TypeError set, when a __reduce__ call passes arguments.
bool reduce_takes_no_arguments(std::size_t nargsf, PyObject* kwnames);

// The __reduce__ method every record class lists in its methods.
PyMethodDef record_reduce_method() noexcept;

// The module function the restorable classes reduce to ("_restore"; a module
// attribute outside __all__, so that pickle finds it by name).
extern PyMethodDef restore_definition;

// One of the four tier names, as the static text the core uses, for a str
// read back from a pickle; ValueError for any other value.
std::optional<std::string_view> tier_name_of(PyObject* text);

}  // namespace quarlen::py
