// One mechanism binds every pool family: a family is a table entry (its
// class and function names, its parameters and the core constructor to call)
// and this file turns it into a Python class with quote/optimal_size and a
// module function <family>_optimal_size.
#pragma once

#include "python/arguments.hpp"

#include <any>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "core/src/amm_curve.hpp"
#include "python/pyref.hpp"
#include "python/value_hash.hpp"

namespace quarlen::py {

struct ModuleState;

// A constructor argument after conversion, by kind: Number -> Decimal;
// Numbers -> vector of Decimal; Index -> uint64; Flag -> bool; Custom ->
// whatever the family's converter makes of it: one of those, or a value of
// the family's own type held in a std::any.
using ArgumentValue = std::variant<Decimal, std::vector<Decimal>, std::uint64_t, bool, std::any>;

// How a family converts a parameter of its own kind (DLMM's bins,
// CryptoSwap's pair of balances) and shows it back to Python. The argument
// is a sequence: binding takes out its items (a failure there carries the
// "while processing" note, as for any sequence), and `convert` turns them
// into a value in the parameter's turn among the numbers.
struct ParameterConverter {
    // The value, or nothing with a Python exception set.
    std::optional<ArgumentValue> (*convert)(std::span<const PyRef> items, const char* name);
    // For a value held in a std::any, what the generic code cannot know:
    // the Python value the constructor accepts back (repr, pickling), and
    // equality and hashing by value. Unused (and left null) by a converter
    // whose values are Decimals, sequences of them, indices or flags.
    PyObject* (*to_python)(const ModuleState& state, const std::any& value) = nullptr;
    bool (*equal)(const std::any& a, const std::any& b) = nullptr;
    void (*hash)(ValueHash& hash, const std::any& value) = nullptr;
};

// The converted constructor arguments of one pool, in parameter order.
class PoolArguments {
public:
    explicit PoolArguments(std::vector<ArgumentValue> values) : values_(std::move(values)) {}

    Decimal number(std::size_t i) const { return std::get<Decimal>(values_[i]); }
    const std::vector<Decimal>& numbers(std::size_t i) const { return std::get<std::vector<Decimal>>(values_[i]); }
    std::uint64_t index(std::size_t i) const { return std::get<std::uint64_t>(values_[i]); }
    bool flag(std::size_t i) const { return std::get<bool>(values_[i]); }
    // A value of the family's own type, as its converter made it.
    template <class T>
    const T& custom(std::size_t i) const {
        return std::any_cast<const T&>(std::get<std::any>(values_[i]));
    }

    const std::vector<ArgumentValue>& values() const noexcept { return values_; }

private:
    std::vector<ArgumentValue> values_;
};

struct LockPolicy {
    bool release_for_sizing = false;
    bool release_for_quote = false;
};

// What a family's class and function are called and what they take.
struct PoolNames {
    const char* type_name;      // "quarlen.PyCpmm"
    const char* function_name;  // "cpmm_optimal_size"
    std::span<const Parameter> parameters;
};

// The docstrings, derived from the names (family_docs.hpp).
struct PoolDocs {
    const char* class_doc;     // the constructor's text signature + "\n--\n\n"
    const char* function_doc;  // the function's text signature + "\n--\n\n"
};

struct PoolFamily : PoolNames {
    PoolDocs docs;
    // Runs the family's validating constructor on the converted arguments.
    Sized<SharedCurve> (*build)(const PoolArguments& arguments);
    // Whether the interpreter lock is released around the pure C++ work.
    // Giving it up and taking it back costs a fraction of a microsecond, so
    // it pays off for the iterative sizings and quotes and not for the
    // closed forms, which finish in about that time.
    LockPolicy lock = {};
};

// Puts a freshly validated pool behind the common interface.
template <class Pool>
Sized<SharedCurve> shared(Sized<Pool> pool) {
    if (!pool) return std::unexpected(std::move(pool.error()));
    return share_curve(std::move(*pool));
}

// What a pool object holds: the validated model, and the converted
// constructor arguments it was built from (for repr, pickling and equality).
struct PoolState {
    SharedCurve curve;
    PoolArguments arguments;
    const PoolFamily* family;
};

// The PyType_Spec of each family's class and the definition of its module
// function, in registration order; the module creates both from them.
std::span<PyType_Spec* const> pool_type_specs() noexcept;
std::span<PyMethodDef* const> pool_function_defs() noexcept;

// The most constructor parameters a family may declare.
std::size_t max_pool_parameters() noexcept;

// The state of an instance of one of the pool classes (subclasses
// included), tried in registration order; null when `object` is none of them.
const PoolState* pool_state_of(const ModuleState& state, PyObject* object) noexcept;
// The same, for its pool model.
const SharedCurve* curve_of(const ModuleState& state, PyObject* object) noexcept;

// A new object of the family's own class (not a subclass) holding `pool`.
PyObject* new_pool_object(const ModuleState& state, const PoolState& pool);
// "PyCpmm(x=Decimal('100'), y=..., fee_retention=...)", as the pool's repr.
PyObject* pool_repr_of(const ModuleState& state, const PoolState& pool);
// Equal pools: the same family with equal constructor arguments. They hash alike.
bool same_pool(const PoolState& a, const PoolState& b);
void hash_pool(ValueHash& hash, const PoolState& pool);

// The parameters of every quote and optimal_size method: (delta_in) and
// (reference_price, fixed_cost, max_size).
std::span<const Parameter> quote_parameters() noexcept;
std::span<const Parameter> sizing_parameters() noexcept;

// What the quote and optimal_size methods do once their arguments are bound,
// for any model: convert delta_in, or reference_price, fixed_cost and
// max_size in that order; quote or size, with the interpreter lock released
// when `release_lock` is set; return the Decimal or the new SizingResult, or
// raise. Null with an exception set on failure.
PyObject* quote_with(const ModuleState& state, const AmmCurve& curve, PyObject* delta_in, bool release_lock);
PyObject* optimal_size_with(const ModuleState& state, const AmmCurve& curve, std::span<const PyRef> sizing_arguments,
                            bool release_lock);

}  // namespace quarlen::py
