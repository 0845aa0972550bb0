#include "python/pools.hpp"

#include <cstring>
#include <type_traits>
#include <utility>

#include "python/boxed.hpp"
#include "python/by_value.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/families.hpp"
#include "python/pickling.hpp"
#include "python/module_state.hpp"
#include "python/released_lock.hpp"
#include "python/results.hpp"
#include "python/heap_type.hpp"

namespace quarlen::py {

namespace {

// The most constructor parameters any family has, plus the three sizing ones.
constexpr std::size_t kMaxBoundArguments = 16;

constexpr Parameter kSizingParameters[] = {{"reference_price"}, {"fixed_cost"}, {"max_size"}};
constexpr Parameter kQuoteParameters[] = {{"delta_in"}};

// "PyCpmm" of "quarlen.PyCpmm".
const char* class_name(const PoolFamily& family) { return std::strrchr(family.type_name, '.') + 1; }

// The class constructor's leading parameters that have no default.
std::size_t required_by_constructor(const PoolFamily& family) {
    std::size_t required = 0;
    for (const Parameter& parameter : family.parameters) {
        if (!std::holds_alternative<std::monostate>(parameter.class_default)) break;
        ++required;
    }
    return required;
}

// ---- argument conversion ------------------------------------------------

std::optional<std::vector<Decimal>> to_numbers(const std::vector<PyRef>& items, const char* name) {
    std::vector<Decimal> numbers;
    numbers.reserve(items.size());
    for (const PyRef& item : items) {
        const std::optional<Decimal> number = to_decimal(item.get(), name);
        if (!number) return std::nullopt;
        numbers.push_back(*number);
    }
    return numbers;
}

// Converts a family's constructor arguments: first what binding converts
// (sequences, indices, flags; a failure carries the note naming the
// parameter), then every number in parameter order. An empty slot in `bound`
// takes the class constructor's default.
std::optional<PoolArguments> to_pool_arguments(const PoolFamily& family, std::span<const PyRef> bound) {
    const std::span<const Parameter> parameters = family.parameters;
    std::vector<ArgumentValue> values(parameters.size());
    std::vector<std::vector<PyRef>> items(parameters.size());

    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const Parameter& parameter = parameters[i];
        PyObject* object = bound[i].get();
        if (object == nullptr) {
            if (const auto* index = std::get_if<std::uint64_t>(&parameter.class_default)) values[i] = *index;
            if (const auto* flag = std::get_if<bool>(&parameter.class_default)) values[i] = *flag;
            continue;
        }
        switch (parameter.kind) {
        case ParameterKind::Number:
            break;
        case ParameterKind::Numbers:
        case ParameterKind::Custom: {
            std::optional<std::vector<PyRef>> sequence = to_items(object);
            if (!sequence) {
                add_parameter_note(parameter.name);
                return std::nullopt;
            }
            items[i] = std::move(*sequence);
            break;
        }
        case ParameterKind::Index: {
            const std::optional<std::uint64_t> index = to_index(object);
            if (!index) {
                add_parameter_note(parameter.name);
                return std::nullopt;
            }
            values[i] = *index;
            break;
        }
        case ParameterKind::Flag: {
            const std::optional<bool> flag = to_flag(object);
            if (!flag) {
                add_parameter_note(parameter.name);
                return std::nullopt;
            }
            values[i] = *flag;
            break;
        }
        }
    }

    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const Parameter& parameter = parameters[i];
        switch (parameter.kind) {
        case ParameterKind::Number: {
            const std::optional<Decimal> number = to_decimal(bound[i].get(), parameter.name);
            if (!number) return std::nullopt;
            values[i] = *number;
            break;
        }
        case ParameterKind::Numbers: {
            std::optional<std::vector<Decimal>> numbers = to_numbers(items[i], parameter.element_name);
            if (!numbers) return std::nullopt;
            values[i] = std::move(*numbers);
            break;
        }
        case ParameterKind::Custom: {
            std::optional<ArgumentValue> value = parameter.converter->convert(items[i], parameter.name);
            if (!value) return std::nullopt;
            values[i] = std::move(*value);
            break;
        }
        case ParameterKind::Index:
        case ParameterKind::Flag:
            break;
        }
    }
    return PoolArguments(std::move(values));
}

// Validates the converted arguments through the family's constructor.
std::optional<SharedCurve> build_curve(const ModuleState& state, const PoolFamily& family,
                                       const PoolArguments& arguments) {
    Sized<SharedCurve> curve = family.build(arguments);
    if (!curve) {
        raise_sizing_error(state, curve.error());
        return std::nullopt;
    }
    return std::move(*curve);
}

// ---- Python views of the stored arguments (repr, pickling) --------------

PyObject* numbers_to_python(const ModuleState& state, const std::vector<Decimal>& numbers) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(numbers.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        PyObject* item = from_decimal(state, numbers[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* argument_to_python(const ModuleState& state, const Parameter& parameter, const ArgumentValue& value) {
    if (const auto* number = std::get_if<Decimal>(&value)) return from_decimal(state, *number);
    if (const auto* numbers = std::get_if<std::vector<Decimal>>(&value)) return numbers_to_python(state, *numbers);
    if (const auto* index = std::get_if<std::uint64_t>(&value)) return PyLong_FromUnsignedLongLong(*index);
    if (const auto* flag = std::get_if<bool>(&value)) return PyBool_FromLong(*flag ? 1 : 0);
    return parameter.converter->to_python(state, std::get<std::any>(value));
}

// The constructor arguments as a tuple of Python values the constructor accepts.
PyObject* arguments_tuple(const ModuleState& state, const PoolState& pool) {
    const std::vector<ArgumentValue>& values = pool.arguments.values();
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(values.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = argument_to_python(state, pool.family->parameters[i], values[i]);
        if (item == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    return tuple.release();
}

// ---- equality and hashing by value ----------------------------------------

bool same_argument(const Parameter& parameter, const ArgumentValue& a, const ArgumentValue& b) {
    if (a.index() != b.index()) return false;
    return std::visit(
        [&]<class Value>(const Value& left) {
            const Value& right = std::get<Value>(b);
            if constexpr (std::is_same_v<Value, std::any>) {
                return parameter.converter->equal(left, right);
            } else {
                // Decimals compare by value, so 1.5 equals 1.50; sequences
                // element by element.
                return left == right;
            }
        },
        a);
}

void hash_argument(ValueHash& hash, const Parameter& parameter, const ArgumentValue& value) {
    std::visit(
        [&]<class Value>(const Value& held) {
            if constexpr (std::is_same_v<Value, std::any>) {
                parameter.converter->hash(hash, held);
            } else if constexpr (std::is_same_v<Value, std::vector<Decimal>>) {
                hash.add(std::span<const Decimal>(held));
            } else {
                hash.add(held);
            }
        },
        value);
}

// ---- the class ----------------------------------------------------------

template <std::size_t F>
PyObject* pool_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    const PoolFamily& family = *kPoolFamilies[F];
    const ModuleState& state = state_of_type(type);
    return guarded(state, [&]() -> PyObject* {
        PyRef bound[kMaxBoundArguments];
        const Signature signature{nullptr, class_name(family), family.parameters, {},
                                  required_by_constructor(family)};
        const std::span<PyRef> slots(bound, family.parameters.size());
        if (!bind_arguments(signature, args, kwargs, slots)) return nullptr;
        std::optional<PoolArguments> arguments = to_pool_arguments(family, slots);
        if (!arguments) return nullptr;
        std::optional<SharedCurve> curve = build_curve(state, family, *arguments);
        if (!curve) return nullptr;
        return box(type, PoolState{std::move(*curve), std::move(*arguments), &family});
    });
}

PyObject* pool_quote(PyObject* self, PyTypeObject* defining_class, PyObject* const* args, std::size_t nargsf,
                     PyObject* kwnames) {
    const ModuleState& state = state_of_method(defining_class);
    const PoolState& pool = unbox<PoolState>(self);
    return guarded(state, [&]() -> PyObject* {
        PyRef bound[1];
        const Signature signature{class_name(*pool.family), "quote", kQuoteParameters, {}, 1};
        if (!bind_arguments(signature, args, static_cast<Py_ssize_t>(nargsf), kwnames, bound)) return nullptr;
        return quote_with(state, *pool.curve, bound[0].get(), pool.family->lock.release_for_quote);
    });
}

PyObject* pool_optimal_size(PyObject* self, PyTypeObject* defining_class, PyObject* const* args, std::size_t nargsf,
                            PyObject* kwnames) {
    const ModuleState& state = state_of_method(defining_class);
    const PoolState& pool = unbox<PoolState>(self);
    return guarded(state, [&]() -> PyObject* {
        PyRef bound[3];
        const Signature signature{class_name(*pool.family), "optimal_size", kSizingParameters, {}, 1};
        if (!bind_arguments(signature, args, static_cast<Py_ssize_t>(nargsf), kwnames, bound)) return nullptr;
        return optimal_size_with(state, *pool.curve, bound, pool.family->lock.release_for_sizing);
    });
}

PyObject* pool_reduce(PyObject* self, PyTypeObject* defining_class, PyObject* const*, std::size_t nargsf,
                      PyObject* kwnames) {
    if (!reduce_takes_no_arguments(nargsf, kwnames)) return nullptr;
    const ModuleState& state = state_of_method(defining_class);
    PyRef arguments = PyRef::steal(arguments_tuple(state, unbox<PoolState>(self)));
    if (!arguments) return nullptr;
    return Py_BuildValue("(OO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), arguments.get());
}

PyObject* pool_repr(PyObject* self) { return pool_repr_of(state_of_type(Py_TYPE(self)), unbox<PoolState>(self)); }

PyMethodDef pool_methods[] = {
    {"quote", as_function(pool_quote), METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
     "quote($self, delta_in)\n--\n\nThe pool's output for an input of delta_in."},
    {"optimal_size", as_function(pool_optimal_size), METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
     "optimal_size($self, reference_price, fixed_cost=None, max_size=None)\n--\n\n"
     "The input that maximises the profit against reference_price."},
    {"__reduce__", as_function(pool_reduce), METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
     "Pickle support: the class and its constructor arguments."},
    {nullptr, nullptr, 0, nullptr},
};

template <std::size_t F>
PyType_Slot pool_slots[] = {
    {Py_tp_doc, const_cast<char*>(kPoolFamilies[F]->docs.class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(pool_new<F>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<PoolState>)},
    {Py_tp_methods, pool_methods},
    {Py_tp_repr, reinterpret_cast<void*>(pool_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(record_richcompare<PoolState, same_pool>)},
    {Py_tp_hash, reinterpret_cast<void*>(record_hash<PoolState, hash_pool>)},
    {0, nullptr},
};

template <std::size_t F>
PyType_Spec pool_spec = type_spec(kPoolFamilies[F]->type_name, sizeof(Boxed<PoolState>),
                                  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE, pool_slots<F>);

// ---- the module function ------------------------------------------------

// <family>_optimal_size: the constructor's steps, then optimal_size's, without
// creating a pool object. Any constructor failure comes before a failure of
// reference_price, fixed_cost or max_size.
template <std::size_t F>
PyObject* pool_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const PoolFamily& family = *kPoolFamilies[F];
    const ModuleState& state = module_state(module);
    return guarded(state, [&]() -> PyObject* {
        PyRef bound[kMaxBoundArguments];
        const std::size_t pool_parameters = family.parameters.size();
        const Signature signature{nullptr, family.function_name, family.parameters, kSizingParameters,
                                  pool_parameters + 1};
        const std::span<PyRef> slots(bound, signature.size());
        if (!bind_arguments(signature, args, nargs, kwnames, slots)) return nullptr;
        std::optional<PoolArguments> arguments = to_pool_arguments(family, slots.first(pool_parameters));
        if (!arguments) return nullptr;
        std::optional<SharedCurve> curve = build_curve(state, family, *arguments);
        if (!curve) return nullptr;
        return optimal_size_with(state, **curve, slots.subspan(pool_parameters), family.lock.release_for_sizing);
    });
}

template <std::size_t F>
PyMethodDef pool_function_def = {
    kPoolFamilies[F]->function_name,
    as_function(pool_function<F>),
    METH_FASTCALL | METH_KEYWORDS,
    kPoolFamilies[F]->docs.function_doc,
};

template <std::size_t... F>
constexpr std::array<PyType_Spec*, sizeof...(F)> all_specs(std::index_sequence<F...>) {
    return {&pool_spec<F>...};
}

template <std::size_t... F>
constexpr std::array<PyMethodDef*, sizeof...(F)> all_function_defs(std::index_sequence<F...>) {
    return {&pool_function_def<F>...};
}

constexpr auto kSpecs = all_specs(std::make_index_sequence<kPoolFamilies.size()>());
constexpr auto kFunctionDefs = all_function_defs(std::make_index_sequence<kPoolFamilies.size()>());

}  // namespace

std::span<PyType_Spec* const> pool_type_specs() noexcept { return kSpecs; }
std::span<PyMethodDef* const> pool_function_defs() noexcept { return kFunctionDefs; }

const PoolState* pool_state_of(const ModuleState& state, PyObject* object) noexcept {
    for (PyTypeObject* type : state.pool_types) {
        if (PyObject_TypeCheck(object, type)) return &unbox<PoolState>(object);
    }
    return nullptr;
}

const SharedCurve* curve_of(const ModuleState& state, PyObject* object) noexcept {
    const PoolState* pool = pool_state_of(state, object);
    return pool == nullptr ? nullptr : &pool->curve;
}

PyObject* new_pool_object(const ModuleState& state, const PoolState& pool) {
    for (std::size_t i = 0; i < kPoolFamilies.size(); ++i) {
        if (kPoolFamilies[i] == pool.family) return box(state.pool_types[i], pool);
    }
    PyErr_SetString(PyExc_SystemError, "a pool of no registered family");
    return nullptr;
}

PyObject* pool_repr_of(const ModuleState& state, const PoolState& pool) {
    PyRef text = PyRef::steal(PyUnicode_FromFormat("%s(", class_name(*pool.family)));
    const std::vector<ArgumentValue>& values = pool.arguments.values();
    for (std::size_t i = 0; text && i < values.size(); ++i) {
        PyRef value = PyRef::steal(argument_to_python(state, pool.family->parameters[i], values[i]));
        if (!value) return nullptr;
        PyRef part = PyRef::steal(PyUnicode_FromFormat("%s%s=%R", i == 0 ? "" : ", ", pool.family->parameters[i].name,
                                                       value.get()));
        if (!part) return nullptr;
        text = PyRef::steal(PyUnicode_Concat(text.get(), part.get()));
    }
    if (!text) return nullptr;
    PyRef close = PyRef::steal(PyUnicode_FromString(")"));
    if (!close) return nullptr;
    return PyUnicode_Concat(text.get(), close.get());
}

bool same_pool(const PoolState& a, const PoolState& b) {
    if (a.family != b.family) return false;
    const std::span<const Parameter> parameters = a.family->parameters;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (!same_argument(parameters[i], a.arguments.values()[i], b.arguments.values()[i])) return false;
    }
    return true;
}

void hash_pool(ValueHash& hash, const PoolState& pool) {
    const std::span<const Parameter> parameters = pool.family->parameters;
    for (std::size_t i = 0; i < parameters.size(); ++i) hash_argument(hash, parameters[i], pool.arguments.values()[i]);
}

std::span<const Parameter> quote_parameters() noexcept { return kQuoteParameters; }
std::span<const Parameter> sizing_parameters() noexcept { return kSizingParameters; }

PyObject* quote_with(const ModuleState& state, const AmmCurve& curve, PyObject* delta_in, bool release_lock) {
    const std::optional<Decimal> amount = to_decimal(delta_in, "delta_in");
    if (!amount) return nullptr;
    const Sized<Decimal> out = run_released_if(release_lock, [&] { return curve.quote(*amount); });
    if (!out) {
        raise_sizing_error(state, out.error());
        return nullptr;
    }
    return from_decimal(state, *out);
}

PyObject* optimal_size_with(const ModuleState& state, const AmmCurve& curve, std::span<const PyRef> sizing_arguments,
                            bool release_lock) {
    const std::optional<Decimal> reference_price = to_decimal(sizing_arguments[0].get(), "reference_price");
    if (!reference_price) return nullptr;
    const std::optional<SizingConstraints> constraints =
        to_constraints(sizing_arguments[1].get(), sizing_arguments[2].get());
    if (!constraints) return nullptr;
    const Sized<SizingResult> result =
        run_released_if(release_lock, [&] { return curve.optimal_size(*reference_price, *constraints); });
    if (!result) {
        raise_sizing_error(state, result.error());
        return nullptr;
    }
    return new_sizing_result(state, *result);
}

std::size_t max_pool_parameters() noexcept { return kMaxBoundArguments - std::size(kSizingParameters); }

}  // namespace quarlen::py
