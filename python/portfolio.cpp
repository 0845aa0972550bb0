// portfolio_optimize(total_capital_budget, opportunities): converts the
// opportunity mappings, runs the shadow-price allocation, returns a
// PortfolioResult.
#include "python/portfolio.hpp"

#include "core/src/portfolio.hpp"
#include "python/arguments.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/pools.hpp"
#include "python/released_lock.hpp"
#include "python/route.hpp"
#include "python/results.hpp"

namespace quarlen::py {

namespace {

constexpr Parameter kParameters[] = {{"total_capital_budget"}, {"opportunities"}};
constexpr Signature kSignature{nullptr, "portfolio_optimize", kParameters, {}, 2};

// An optional key. Its value, or an empty reference when the key counts as
// absent: None, or a subscription that raised an ordinary exception (an
// Exception of any kind, KeyError and LookupError included), which is
// discarded. Anything else (KeyboardInterrupt, SystemExit, the module's
// InternalFault) is no lookup failure: it stays set and the result is nullopt.
std::optional<PyRef> optional_item_of(PyObject* mapping, const char* key) {
    PyRef value = item_of(mapping, key);
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_Exception)) return std::nullopt;
        PyErr_Clear();
    }
    if (value.get() == Py_None) return PyRef();
    return value;
}

PyRef list_item(PyObject* list, Py_ssize_t index) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyRef::steal(PyList_GetItemRef(list, index));
#else
    return PyRef::borrow(PyList_GetItem(list, index));
#endif
}

std::optional<Opportunity> to_opportunity(const ModuleState& state, PyObject* mapping) {
    PyRef id_object = item_of(mapping, "id");
    if (!id_object) return std::nullopt;
    std::optional<std::string> id = to_text(id_object.get());
    if (!id) return std::nullopt;

    PyRef pool_object = item_of(mapping, "pool");
    if (!pool_object) return std::nullopt;
    // The nine pool classes first, then routes.
    const SharedCurve* pool = curve_of(state, pool_object.get());
    if (pool == nullptr) pool = route_curve_of(state, pool_object.get());
    if (pool == nullptr) {
        PyErr_SetString(PyExc_ValueError,
                        "opportunity 'pool' must be a supported AMM curve instance (PyCpmm, PyStableSwap, "
                        "PyVelodromeStable, PyDlmmBook, etc.)");
        return std::nullopt;
    }

    PyRef price_object = item_of(mapping, "reference_price");
    if (!price_object) return std::nullopt;
    const std::optional<Decimal> reference_price = to_decimal(price_object.get(), "reference_price");
    if (!reference_price) return std::nullopt;

    // Each optional key is read and converted before the next is read.
    SizingConstraints constraints;
    const std::optional<PyRef> fixed_cost = optional_item_of(mapping, "fixed_cost");
    if (!fixed_cost) return std::nullopt;
    if (*fixed_cost) {
        const std::optional<Decimal> value = to_decimal(fixed_cost->get(), "fixed_cost");
        if (!value) return std::nullopt;
        constraints.fixed_cost = *value;
    }
    const std::optional<PyRef> max_size = optional_item_of(mapping, "max_size");
    if (!max_size) return std::nullopt;
    if (*max_size) {
        constraints.max_size = to_decimal(max_size->get(), "max_size");
        if (!constraints.max_size) return std::nullopt;
    }

    return Opportunity{std::move(*id), *pool, *reference_price, std::move(constraints)};
}

}  // namespace

PyObject* portfolio_optimize_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const ModuleState& state = module_state(module);
    return guarded(state, [&]() -> PyObject* {
        PyRef bound[2];
        if (!bind_arguments(kSignature, args, nargs, kwnames, bound)) return nullptr;
        PyObject* list = bound[1].get();
        if (!PyList_Check(list)) {
            raise_type_mismatch(list, "list");
            add_parameter_note("opportunities");
            return nullptr;
        }

        const std::optional<Decimal> budget = to_decimal(bound[0].get(), "total_capital_budget");
        if (!budget) return nullptr;
        const std::expected<PortfolioConfig, std::string> config = PortfolioConfig::create(*budget);
        if (!config) {
            PyErr_SetString(PyExc_ValueError, config.error().c_str());
            return nullptr;
        }

        // Items are read while the index is below both the length the list
        // had at the start and its current length.
        const Py_ssize_t initial_length = PyList_GET_SIZE(list);
        std::vector<Opportunity> opportunities;
        opportunities.reserve(static_cast<std::size_t>(initial_length));
        for (Py_ssize_t index = 0; index < initial_length && index < PyList_GET_SIZE(list); ++index) {
            PyRef item = list_item(list, index);
            if (!item) return nullptr;
            std::optional<Opportunity> opportunity = to_opportunity(state, item.get());
            if (!opportunity) return nullptr;
            opportunities.push_back(std::move(*opportunity));
        }

        // Every opportunity holds its own share of its pool's model, so the
        // search touches no Python object and other threads may run.
        PortfolioResult result =
            run_released_if(!opportunities.empty(), [&] { return portfolio_optimize(*config, opportunities); });
        return new_portfolio_result(state, std::move(result));
    });
}

}  // namespace quarlen::py
