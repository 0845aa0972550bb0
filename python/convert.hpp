// Conversion of Python values to core values and back. Every function that
// can fail returns no value with a Python exception set.
#pragma once

#include "python/python_api.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/src/sizing.hpp"
#include "decimal/decimal.hpp"
#include "python/module_state.hpp"

namespace quarlen::py {

// The object's str() parsed as a Decimal (an exact int that fits 64 bits,
// and an exact str, are read directly, with the same result): plain form
// first, then the scientific form when the text holds an 'e' or 'E'. On failure raises
// ValueError "invalid {name} {quoted text}: {parse message}"; an exception
// raised by str() itself propagates unchanged.
std::optional<Decimal> to_decimal(PyObject* value, std::string_view name);

// The constraints of a sizing call: fixed_cost is ZERO and max_size absent
// when the argument is left out (null) or None; fixed_cost converts first.
std::optional<SizingConstraints> to_constraints(PyObject* fixed_cost, PyObject* max_size);

// A new decimal.Decimal built from the number's text form (a whole number
// that fits 64 bits through Decimal(int)), so the result keeps its scale
// (1.50 stays 1.50).
PyObject* from_decimal(const ModuleState& state, Decimal value);

// The items of a sequence argument, in iteration order. A str raises
// TypeError "Can't extract `str` to `Vec`"; anything that is neither a
// sequence nor a collections.abc.Sequence raises the type-mismatch error.
std::optional<std::vector<PyRef>> to_items(PyObject* value);

// An index argument: any integer (or object with __index__) in 0 .. 2^64 - 1.
std::optional<std::uint64_t> to_index(PyObject* value);

// A signed 32-bit integer (bin identifiers).
std::optional<std::int32_t> to_int32(PyObject* value);

// True or False, or a numpy boolean through its truth value.
std::optional<bool> to_flag(PyObject* value);

// mapping[key] for a text key, as a strong reference.
PyRef item_of(PyObject* mapping, const char* key);

// A Python str, as UTF-8.
std::optional<std::string> to_text(PyObject* value);

}  // namespace quarlen::py
