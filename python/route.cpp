// PyRoute(legs): pools traded one after another, each leg in the direction
// its pool trades. It quotes and sizes like a pool (the same argument rules
// and errors) and stands in a portfolio wherever a pool does.
#include "python/route.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "core/src/route.hpp"
#include "python/arguments.hpp"
#include "python/boxed.hpp"
#include "python/by_value.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/heap_type.hpp"
#include "python/pickling.hpp"
#include "python/pools.hpp"

namespace quarlen::py {

namespace {

// The route's model, and a copy of each leg pool's state (the model shared,
// the constructor arguments copied) for repr, pickling, equality and `legs`.
struct RouteState {
    SharedCurve curve;
    std::vector<PoolState> legs;
};

constexpr Parameter kLegs[] = {{"legs"}};

// Every route sizing and quote chains several quotes, so other threads run
// meanwhile.
constexpr bool kReleaseLock = true;

// The route of the pool objects in `legs`, a sequence like every other
// sequence parameter. Nothing is built unless every item is a pool and the
// count is 1 to 8. The legs' states are copied only for a route object,
// which shows them; route_optimal_size needs the model alone.
std::optional<RouteState> to_route(const ModuleState& state, PyObject* legs, bool keep_leg_states) {
    std::optional<std::vector<PyRef>> items = to_items(legs);
    if (!items) {
        add_parameter_note("legs");
        return std::nullopt;
    }
    RouteState route;
    std::vector<SharedCurve> curves;
    for (std::size_t i = 0; i < items->size(); ++i) {
        PyObject* item = (*items)[i].get();
        const PoolState* pool = pool_state_of(state, item);
        if (pool == nullptr) {
            PyRef type_name = PyRef::steal(PyType_GetQualName(Py_TYPE(item)));
            if (type_name)
                PyErr_Format(PyExc_ValueError, "legs[%zu] must be a pool object (an instance of one of the nine pool "
                             "classes), got '%U'", i, type_name.get());
            return std::nullopt;
        }
        if (keep_leg_states) route.legs.push_back(*pool);
        curves.push_back(pool->curve);
    }
    std::expected<Route, std::string> model = Route::create(std::move(curves));
    if (!model) {
        PyErr_SetString(PyExc_ValueError, model.error().c_str());
        return std::nullopt;
    }
    route.curve = share_curve(std::move(*model));
    return route;
}

PyObject* route_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    const ModuleState& state = state_of_type(type);
    return guarded(state, [&]() -> PyObject* {
        PyRef bound[1];
        if (!bind_arguments(Signature{nullptr, "PyRoute", kLegs, {}, 1}, args, kwargs, bound)) return nullptr;
        std::optional<RouteState> route = to_route(state, bound[0].get(), true);
        if (!route) return nullptr;
        return box(type, std::move(*route));
    });
}

PyObject* route_quote(PyObject* self, PyTypeObject* defining_class, PyObject* const* args, std::size_t nargsf,
                      PyObject* kwnames) {
    const ModuleState& state = state_of_method(defining_class);
    const RouteState& route = unbox<RouteState>(self);
    return guarded(state, [&]() -> PyObject* {
        PyRef bound[1];
        const Signature signature{"PyRoute", "quote", quote_parameters(), {}, 1};
        if (!bind_arguments(signature, args, static_cast<Py_ssize_t>(nargsf), kwnames, bound)) return nullptr;
        return quote_with(state, *route.curve, bound[0].get(), kReleaseLock);
    });
}

PyObject* route_optimal_size(PyObject* self, PyTypeObject* defining_class, PyObject* const* args,
                             std::size_t nargsf, PyObject* kwnames) {
    const ModuleState& state = state_of_method(defining_class);
    const RouteState& route = unbox<RouteState>(self);
    return guarded(state, [&]() -> PyObject* {
        PyRef bound[3];
        const Signature signature{"PyRoute", "optimal_size", sizing_parameters(), {}, 1};
        if (!bind_arguments(signature, args, static_cast<Py_ssize_t>(nargsf), kwnames, bound)) return nullptr;
        return optimal_size_with(state, *route.curve, bound, kReleaseLock);
    });
}

// The legs as new pool objects of their families' own classes.
PyObject* legs_list(const ModuleState& state, const RouteState& route) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(route.legs.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < route.legs.size(); ++i) {
        PyObject* leg = new_pool_object(state, route.legs[i]);
        if (leg == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), leg);
    }
    return list.release();
}

PyObject* get_legs(PyObject* self, void*) {
    const ModuleState& state = state_of_type(Py_TYPE(self));
    return guarded(state, [&]() -> PyObject* {
        PyRef list = PyRef::steal(legs_list(state, unbox<RouteState>(self)));
        if (!list) return nullptr;
        return PyList_AsTuple(list.get());
    });
}

// The class and its one argument, the legs as pool objects: each of them
// pickles as its class and constructor arguments.
PyObject* route_reduce(PyObject* self, PyTypeObject* defining_class, PyObject* const*, std::size_t nargsf,
                       PyObject* kwnames) {
    if (!reduce_takes_no_arguments(nargsf, kwnames)) return nullptr;
    const ModuleState& state = state_of_method(defining_class);
    return guarded(state, [&]() -> PyObject* {
        PyRef legs = PyRef::steal(legs_list(state, unbox<RouteState>(self)));
        if (!legs) return nullptr;
        return Py_BuildValue("(O(O))", reinterpret_cast<PyObject*>(Py_TYPE(self)), legs.get());
    });
}

// "PyRoute([PyCpmm(...), PyConcentratedLiquidity(...)])".
PyObject* route_repr(PyObject* self) {
    const ModuleState& state = state_of_type(Py_TYPE(self));
    const RouteState& route = unbox<RouteState>(self);
    PyRef text = PyRef::steal(PyUnicode_FromString("PyRoute(["));
    for (std::size_t i = 0; text && i < route.legs.size(); ++i) {
        PyRef leg = PyRef::steal(pool_repr_of(state, route.legs[i]));
        if (!leg) return nullptr;
        PyRef part = PyRef::steal(PyUnicode_FromFormat("%s%U", i == 0 ? "" : ", ", leg.get()));
        if (!part) return nullptr;
        text = PyRef::steal(PyUnicode_Concat(text.get(), part.get()));
    }
    if (!text) return nullptr;
    PyRef close = PyRef::steal(PyUnicode_FromString("])"));
    if (!close) return nullptr;
    return PyUnicode_Concat(text.get(), close.get());
}

// Equal, like pools, with equal legs in the same order.
bool same_route(const RouteState& a, const RouteState& b) {
    return std::ranges::equal(a.legs, b.legs, same_pool);
}

void hash_route(ValueHash& hash, const RouteState& route) {
    hash.add(static_cast<std::uint64_t>(route.legs.size()));
    for (const PoolState& leg : route.legs) {
        hash.add(std::string_view(leg.family->type_name));
        hash_pool(hash, leg);
    }
}

PyMethodDef route_methods[] = {
    {"quote", as_function(route_quote), METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
     "quote($self, delta_in)\n--\n\nThe last leg's output for an input of delta_in into the first."},
    {"optimal_size", as_function(route_optimal_size), METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
     "optimal_size($self, reference_price, fixed_cost=None, max_size=None)\n--\n\n"
     "The input that maximises the profit against reference_price."},
    {"__reduce__", as_function(route_reduce), METH_METHOD | METH_FASTCALL | METH_KEYWORDS,
     "Pickle support: the class and its legs."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef route_getset[] = {
    {"legs", get_legs, nullptr, "The leg pools in route order (a new tuple of new pool objects).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot route_slots[] = {
    {Py_tp_doc, const_cast<char*>("PyRoute(legs)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(route_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<RouteState>)},
    {Py_tp_methods, route_methods},
    {Py_tp_getset, route_getset},
    {Py_tp_repr, reinterpret_cast<void*>(route_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(record_richcompare<RouteState, same_route>)},
    {Py_tp_hash, reinterpret_cast<void*>(record_hash<RouteState, hash_route>)},
    {0, nullptr},
};

// route_optimal_size: the constructor's steps, then optimal_size's, without
// creating the route object; a failure of the legs comes first.
PyObject* route_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const ModuleState& state = module_state(module);
    return guarded(state, [&]() -> PyObject* {
        PyRef bound[4];
        const Signature signature{nullptr, "route_optimal_size", kLegs, sizing_parameters(), 2};
        if (!bind_arguments(signature, args, nargs, kwnames, bound)) return nullptr;
        std::optional<RouteState> route = to_route(state, bound[0].get(), false);
        if (!route) return nullptr;
        return optimal_size_with(state, *route->curve, std::span<const PyRef>(bound).subspan(1), kReleaseLock);
    });
}

}  // namespace

PyType_Spec route_spec = type_spec("quarlen.PyRoute", sizeof(Boxed<RouteState>),
                                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE, route_slots);

PyMethodDef route_function_def = {
    "route_optimal_size",
    as_function(route_function),
    METH_FASTCALL | METH_KEYWORDS,
    "route_optimal_size(legs, reference_price, fixed_cost=None, max_size=None)\n--\n\n",
};

const SharedCurve* route_curve_of(const ModuleState& state, PyObject* object) noexcept {
    if (state.route_type == nullptr || !PyObject_TypeCheck(object, state.route_type)) return nullptr;
    return &unbox<RouteState>(object).curve;
}

}  // namespace quarlen::py
