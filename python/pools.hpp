// One mechanism binds every pool family: a family is a table entry (its
// class and function names, its parameters and the core constructor to call)
// and this file turns it into a Python class with quote/optimal_size and a
// module function <family>_optimal_size.
#pragma once

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "core/src/amm_curve.hpp"
#include "core/src/curves/dlmm.hpp"
#include "python/arguments.hpp"
#include "python/pyref.hpp"

namespace quarlen::py {

struct ModuleState;

// A constructor argument after conversion, by kind: Number -> Decimal;
// Numbers and Pair -> vector of Decimal; Bins -> vector of DlmmBin;
// Index -> uint64; Flag -> bool.
using ArgumentValue = std::variant<Decimal, std::vector<Decimal>, std::vector<DlmmBin>, std::uint64_t, bool>;

// The converted constructor arguments of one pool, in parameter order.
class PoolArguments {
public:
    explicit PoolArguments(std::vector<ArgumentValue> values) : values_(std::move(values)) {}

    Decimal number(std::size_t i) const { return std::get<Decimal>(values_[i]); }
    const std::vector<Decimal>& numbers(std::size_t i) const { return std::get<std::vector<Decimal>>(values_[i]); }
    const std::vector<DlmmBin>& bins(std::size_t i) const { return std::get<std::vector<DlmmBin>>(values_[i]); }
    std::uint64_t index(std::size_t i) const { return std::get<std::uint64_t>(values_[i]); }
    bool flag(std::size_t i) const { return std::get<bool>(values_[i]); }

    const std::vector<ArgumentValue>& values() const noexcept { return values_; }

private:
    std::vector<ArgumentValue> values_;
};

struct LockPolicy {
    bool release_for_sizing = false;
    bool release_for_quote = false;
};

struct PoolFamily {
    const char* type_name;      // "quarlen.PyCpmm"
    const char* class_doc;      // the constructor's text signature + "\n--\n\n"
    const char* function_name;  // "cpmm_optimal_size"
    const char* function_doc;   // the function's text signature + "\n--\n\n"
    std::span<const Parameter> parameters;
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

// The PyType_Spec of each family's class and the definition of its module
// function, in registration order; the module creates both from them.
std::span<PyType_Spec* const> pool_type_specs() noexcept;
std::span<PyMethodDef* const> pool_function_defs() noexcept;

// The most constructor parameters a family may declare.
std::size_t max_pool_parameters() noexcept;

// The pool model of an instance of one of the pool classes (subclasses
// included), tried in registration order; null when `object` is none of them.
const SharedCurve* curve_of(const ModuleState& state, PyObject* object) noexcept;

}  // namespace quarlen::py
