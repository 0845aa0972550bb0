#include "python/arguments.hpp"

#include <string>

namespace quarlen::py {

namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// "PyCpmm.quote" or "cpmm_optimal_size"; built only when an error is raised.
std::string callable_name(const Signature& signature) {
    std::string name;
    if (signature.owner != nullptr) {
        name = signature.owner;
        name += '.';
    }
    name += signature.display_name;
    return name;
}

std::size_t parameter_index(const Signature& signature, PyObject* keyword) {
    for (std::size_t i = 0; i < signature.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(keyword, signature.name(i)) == 0) return i;
    }
    return kNotFound;
}

void raise_too_many_positional(const Signature& signature, Py_ssize_t given) {
    const std::string callable = callable_name(signature);
    const std::size_t most = signature.size();
    std::string takes;
    if (signature.required == most) {
        takes = std::to_string(most);
    } else {
        takes = "from " + std::to_string(signature.required) + " to " + std::to_string(most);
    }
    PyErr_Format(PyExc_TypeError, "%s() takes %s positional argument%s but %zd %s given", callable.c_str(),
                 takes.c_str(), most == 1 ? "" : "s", given, given == 1 ? "was" : "were");
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'", as the interpreter lists them.
bool raise_missing(const Signature& signature, std::span<PyRef> bound) {
    std::string names;
    std::size_t count = 0;
    std::size_t total = 0;
    for (std::size_t i = 0; i < signature.required; ++i) total += bound[i] ? 0 : 1;
    if (total == 0) return true;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (bound[i]) continue;
        ++count;
        if (count > 1) {
            if (total == 2) {
                names += " and ";
            } else {
                names += count == total ? ", and " : ", ";
            }
        }
        names += '\'';
        names += signature.name(i);
        names += '\'';
    }
    const std::string callable = callable_name(signature);
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", callable.c_str(),
                 total, total == 1 ? "" : "s", names.c_str());
    return false;
}

bool bind_keyword(const Signature& signature, PyObject* keyword, PyObject* value, std::span<PyRef> bound) {
    const std::size_t index = PyUnicode_Check(keyword) ? parameter_index(signature, keyword) : kNotFound;
    if (index == kNotFound) {
        const std::string callable = callable_name(signature);
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", callable.c_str(), keyword);
        return false;
    }
    if (bound[index]) {
        const std::string callable = callable_name(signature);
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", callable.c_str(),
                     signature.name(index));
        return false;
    }
    bound[index] = PyRef::borrow(value);
    return true;
}

bool bind_positional(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, std::span<PyRef> bound) {
    if (static_cast<std::size_t>(nargs) > signature.size()) {
        raise_too_many_positional(signature, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) bound[static_cast<std::size_t>(i)] = PyRef::borrow(args[i]);
    return true;
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::span<PyRef> bound) {
    const Py_ssize_t positional = PyVectorcall_NARGS(static_cast<std::size_t>(nargs));
    if (!bind_positional(signature, args, positional, bound)) return false;
    if (kwnames != nullptr) {
        const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < keywords; ++i) {
            if (!bind_keyword(signature, PyTuple_GET_ITEM(kwnames, i), args[positional + i], bound)) return false;
        }
    }
    return raise_missing(signature, bound);
}

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, std::span<PyRef> bound) {
    if (!bind_positional(signature, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), bound)) return false;
    if (kwargs != nullptr) {
        PyObject* keyword = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t position = 0;
        while (PyDict_Next(kwargs, &position, &keyword, &value)) {
            if (!bind_keyword(signature, keyword, value, bound)) return false;
        }
    }
    return raise_missing(signature, bound);
}

}  // namespace quarlen::py
