// Equality and hashing by contents for the classes whose objects are values
// (pools, routes, the portfolio's results): a pickled or copied object equals
// its original and hashes alike.
#pragma once

#include "python/python_api.hpp"

#include "python/boxed.hpp"
#include "python/value_hash.hpp"

namespace quarlen::py {

// tp_richcompare: objects of the same class compare by `same`; another class,
// subclasses included, is left to the other operand, and ordering is not
// defined.
template <class Record, bool (*same)(const Record&, const Record&)>
PyObject* record_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
    const bool equal = same(unbox<Record>(self), unbox<Record>(other));
    return PyBool_FromLong(equal == (op == Py_EQ) ? 1 : 0);
}

// tp_hash: the words `hash_into` feeds in, which equal records feed alike.
template <class Record, void (*hash_into)(ValueHash&, const Record&)>
Py_hash_t record_hash(PyObject* self) {
    ValueHash hash;
    hash_into(hash, unbox<Record>(self));
    return hash.result();
}

}  // namespace quarlen::py
