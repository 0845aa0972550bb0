// A Python object that holds one C++ value, constructed when the object is
// created and destroyed with it. Used by every class whose state is a plain
// core value (pools, constraints, portfolio records).
#pragma once

#include "python/python_api.hpp"

#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "python/pyref.hpp"

namespace quarlen::py {

template <class T>
struct Boxed {
    PyObject_HEAD
    T value;
};

template <class T>
T& unbox(PyObject* self) noexcept {
    return reinterpret_cast<Boxed<T>*>(self)->value;
}

// A new instance of `type` (or a subclass) holding `value`. Never throws:
// a failed copy of the value is reported as MemoryError.
template <class T>
PyObject* box(PyTypeObject* type, const T& value) noexcept {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    try {
        new (&unbox<T>(self)) T(value);
    } catch (const std::bad_alloc&) {
        // The value was never constructed, so only the memory goes back.
        type->tp_free(self);
        Py_DECREF(type);
        return PyErr_NoMemory();
    }
    return self;
}

template <class T>
PyObject* box(PyTypeObject* type, T&& value) noexcept
    requires(!std::is_lvalue_reference_v<T>)
{
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&unbox<T>(self)) T(std::move(value));
    return self;
}

template <class T>
void boxed_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    std::destroy_at(&unbox<T>(self));
    type->tp_free(self);
    // Instances of heap types own a reference to their type.
    Py_DECREF(type);
}

}  // namespace quarlen::py
