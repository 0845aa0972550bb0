// How failures reach the Python caller.
#pragma once

#include "python/python_api.hpp"

#include "core/src/sizing.hpp"
#include "python/module_state.hpp"

#include <exception>
#include <new>

namespace quarlen::py {

// Raises the module's internal-fault exception (a BaseException, so that a
// handler for Exception does not swallow an arithmetic fault).
void raise_internal_fault(const ModuleState& state, const char* message);

// Creates quarlen.SizingError and its four subclasses into the state; false
// with an exception set when the interpreter refuses one.
bool create_sizing_error_classes(ModuleState& state);

// Raises the subclass of quarlen.SizingError (a ValueError) that matches the
// error's kind, with the error's text form as its message and its detail or
// iteration count as attributes.
void raise_sizing_error(const ModuleState& state, const SizingError& error);

// Raises TypeError "'{type}' object is not an instance of '{expected}'", or
// "'None' is not an instance of '{expected}'" for None.
void raise_type_mismatch(PyObject* value, const char* expected);

// Appends the note "while processing '{parameter}'" to the exception being
// raised, as BaseException.add_note does; the exception itself is unchanged.
void add_parameter_note(const char* parameter);

// Runs `body` (which returns a new reference or null with an exception set)
// and turns a C++ exception escaping it into a Python one. This is the only
// place a Decimal fault is caught.
template <class Body>
PyObject* guarded(const ModuleState& state, Body&& body) noexcept {
    try {
        return body();
    } catch (const DecimalFault& fault) {
        raise_internal_fault(state, fault.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& other) {
        raise_internal_fault(state, other.what());
    } catch (...) {
        raise_internal_fault(state, "unknown internal fault");
    }
    return nullptr;
}

}  // namespace quarlen::py
