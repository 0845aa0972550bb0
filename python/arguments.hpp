// Binding of call arguments to parameter names, with the interpreter's own
// TypeError wording for missing, surplus, unknown and repeated arguments.
#pragma once

#include "python/pyref.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

namespace quarlen::py {

// What a parameter accepts. Sequences, indices and flags are converted while
// the arguments are bound; numbers (and what a family converts itself) only
// afterwards, in parameter order.
enum class ParameterKind : std::uint8_t {
    Number,   // a Decimal through its text form
    Numbers,  // a sequence of Decimals, each reported under `element_name`
    Index,    // an integer in 0 .. 2^64 - 1
    Flag,     // True or False
    Custom,   // a sequence whose items the family's own `converter` turns into a value
};

// How a family converts a parameter of its own kind (pools.hpp).
struct ParameterConverter;

struct Parameter {
    const char* name;
    ParameterKind kind = ParameterKind::Number;
    const char* element_name = nullptr;
    // The value a class constructor takes when the argument is left out (the
    // module functions have no such defaults).
    std::variant<std::monostate, std::uint64_t, bool> class_default = {};
    const ParameterConverter* converter = nullptr;  // for ParameterKind::Custom
};

// Positional-or-keyword parameters: `head` followed by `tail` (the sizing
// functions append reference_price, fixed_cost and max_size to a pool's own).
struct Signature {
    // How the errors name the callable: "owner.name()" for methods, "name()" otherwise.
    const char* owner;  // "PyCpmm" for its methods; null for functions and constructors
    const char* display_name;  // "cpmm_optimal_size", "PyCpmm", "quote"
    std::span<const Parameter> head;
    std::span<const Parameter> tail;
    std::size_t required;  // the leading parameters that have no default

    std::size_t size() const noexcept { return head.size() + tail.size(); }
    const char* name(std::size_t index) const noexcept {
        return index < head.size() ? head[index].name : tail[index - head.size()].name;
    }
};

// Vectorcall form. `bound` has one slot per parameter and receives a strong
// reference to each given argument (left empty when the argument was left out).
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::span<PyRef> bound);

// Tuple-and-dict form (type constructors).
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, std::span<PyRef> bound);

}  // namespace quarlen::py
