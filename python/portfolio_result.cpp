// PortfolioResult and AllocatedPosition: the solved portfolio. Both own their
// core records; every read builds new Python objects from them.
#include "python/results.hpp"

#include <algorithm>

#include "python/boxed.hpp"
#include "python/by_value.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/heap_type.hpp"
#include "python/pickling.hpp"
#include "python/value_hash.hpp"

namespace quarlen::py {

namespace {

// ---- AllocatedPosition ------------------------------------------------------

const AllocatedPosition& position_of(PyObject* self) { return unbox<AllocatedPosition>(self); }

PyObject* get_id(PyObject* self, void*) {
    const std::string& id = position_of(self).id;
    return PyUnicode_FromStringAndSize(id.data(), static_cast<Py_ssize_t>(id.size()));
}
PyObject* get_position_tier(PyObject* self, void*) {
    const std::string_view tier = position_of(self).guarantee_tier;
    return PyUnicode_FromStringAndSize(tier.data(), static_cast<Py_ssize_t>(tier.size()));
}
PyObject* get_allocated_size(PyObject* self, void*) {
    return from_decimal(state_of_type(Py_TYPE(self)), position_of(self).allocated_size);
}
PyObject* get_position_profit(PyObject* self, void*) {
    return from_decimal(state_of_type(Py_TYPE(self)), position_of(self).expected_profit);
}

PyObject* position_repr(PyObject* self) {
    PyRef id = PyRef::steal(get_id(self, nullptr));
    PyRef size = id ? PyRef::steal(get_allocated_size(self, nullptr)) : PyRef();
    PyRef profit = size ? PyRef::steal(get_position_profit(self, nullptr)) : PyRef();
    if (!profit) return nullptr;
    const std::string tier(position_of(self).guarantee_tier);
    return PyUnicode_FromFormat("AllocatedPosition(id=%R, guarantee_tier='%s', allocated_size=%R, expected_profit=%R)",
                                id.get(), tier.c_str(), size.get(), profit.get());
}

PyGetSetDef position_getset[] = {
    {"id", get_id, nullptr, "The identifier the caller gave the opportunity (str).", nullptr},
    {"guarantee_tier", get_position_tier, nullptr, "The tier of the opportunity's sizing (str).", nullptr},
    {"allocated_size", get_allocated_size, nullptr, "The input size given to the opportunity (decimal.Decimal).",
     nullptr},
    {"expected_profit", get_position_profit, nullptr, "The profit expected from it (decimal.Decimal).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- equality and hashing by value ---------------------------------------------

// Every field equal, the Decimals by value (1.5 equals 1.50).
bool same_position(const AllocatedPosition& a, const AllocatedPosition& b) {
    return a.id == b.id && a.guarantee_tier == b.guarantee_tier && a.allocated_size == b.allocated_size &&
           a.expected_profit == b.expected_profit;
}

void hash_position(ValueHash& hash, const AllocatedPosition& position) {
    hash.add(std::string_view(position.id));
    hash.add(position.guarantee_tier);
    hash.add(position.allocated_size);
    hash.add(position.expected_profit);
}

bool same_portfolio(const PortfolioResult& a, const PortfolioResult& b) {
    return a.total_capital_used == b.total_capital_used && a.total_expected_profit == b.total_expected_profit &&
           a.shadow_price == b.shadow_price && std::ranges::equal(a.allocations, b.allocations, same_position);
}

void hash_portfolio(ValueHash& hash, const PortfolioResult& portfolio) {
    hash.add(portfolio.total_capital_used);
    hash.add(portfolio.total_expected_profit);
    hash.add(portfolio.shadow_price);
    hash.add(static_cast<std::uint64_t>(portfolio.allocations.size()));
    for (const AllocatedPosition& position : portfolio.allocations) hash_position(hash, position);
}

// ---- pickling -----------------------------------------------------------------

// (id, guarantee_tier, allocated_size, expected_profit).
PyObject* position_tuple(const ModuleState& state, const AllocatedPosition& position) {
    PyRef id = PyRef::steal(PyUnicode_FromStringAndSize(position.id.data(), static_cast<Py_ssize_t>(position.id.size())));
    if (!id) return nullptr;
    PyRef tier = PyRef::steal(PyUnicode_FromStringAndSize(position.guarantee_tier.data(),
                                                          static_cast<Py_ssize_t>(position.guarantee_tier.size())));
    if (!tier) return nullptr;
    PyRef size = PyRef::steal(from_decimal(state, position.allocated_size));
    if (!size) return nullptr;
    PyRef profit = PyRef::steal(from_decimal(state, position.expected_profit));
    if (!profit) return nullptr;
    return PyTuple_Pack(4, id.get(), tier.get(), size.get(), profit.get());
}

// The inverse of position_tuple, checking every value.
std::optional<AllocatedPosition> to_position(PyObject* values) {
    if (!PyTuple_Check(values) || PyTuple_GET_SIZE(values) != 4) {
        PyErr_SetString(PyExc_TypeError, "AllocatedPosition state must be a tuple of 4 items");
        return std::nullopt;
    }
    std::optional<std::string> id = to_text(PyTuple_GET_ITEM(values, 0));
    if (!id) return std::nullopt;
    const std::optional<std::string_view> tier = tier_name_of(PyTuple_GET_ITEM(values, 1));
    if (!tier) return std::nullopt;
    const std::optional<Decimal> size = to_decimal(PyTuple_GET_ITEM(values, 2), "allocated_size");
    if (!size) return std::nullopt;
    const std::optional<Decimal> profit = to_decimal(PyTuple_GET_ITEM(values, 3), "expected_profit");
    if (!profit) return std::nullopt;
    return AllocatedPosition{std::move(*id), *tier, *size, *profit};
}

PyObject* position_state(PyObject* self) { return position_tuple(state_of_type(Py_TYPE(self)), position_of(self)); }

PyObject* position_restore(const ModuleState&, PyTypeObject* type, PyObject* values) {
    std::optional<AllocatedPosition> position = to_position(values);
    if (!position) return nullptr;
    return box(type, std::move(*position));
}

PyMethodDef record_methods[] = {
    record_reduce_method(),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot position_slots[] = {
    {Py_tp_doc, const_cast<char*>("Position allocation in a solved portfolio.")},
    {Py_tp_methods, record_methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<AllocatedPosition>)},
    {Py_tp_getset, position_getset},
    {Py_tp_repr, reinterpret_cast<void*>(position_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(record_richcompare<AllocatedPosition, same_position>)},
    {Py_tp_hash, reinterpret_cast<void*>(record_hash<AllocatedPosition, hash_position>)},
    {0, nullptr},
};

// ---- PortfolioResult --------------------------------------------------------

const PortfolioResult& portfolio_of(PyObject* self) { return unbox<PortfolioResult>(self); }

PyObject* get_total_capital_used(PyObject* self, void*) {
    return from_decimal(state_of_type(Py_TYPE(self)), portfolio_of(self).total_capital_used);
}
PyObject* get_total_expected_profit(PyObject* self, void*) {
    return from_decimal(state_of_type(Py_TYPE(self)), portfolio_of(self).total_expected_profit);
}
PyObject* get_shadow_price(PyObject* self, void*) {
    return from_decimal(state_of_type(Py_TYPE(self)), portfolio_of(self).shadow_price);
}

// A new list of new AllocatedPosition objects on every read.
PyObject* get_allocations(PyObject* self, void*) {
    const ModuleState& state = state_of_type(Py_TYPE(self));
    const std::vector<AllocatedPosition>& allocations = portfolio_of(self).allocations;
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(allocations.size())));
    if (!list) return nullptr;
    Py_ssize_t index = 0;
    for (const AllocatedPosition& position : allocations) {
        PyObject* item = box(state.allocated_position_type, position);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), index++, item);
    }
    return list.release();
}

PyObject* portfolio_repr(PyObject* self) {
    PyRef used = PyRef::steal(get_total_capital_used(self, nullptr));
    PyRef profit = used ? PyRef::steal(get_total_expected_profit(self, nullptr)) : PyRef();
    PyRef shadow = profit ? PyRef::steal(get_shadow_price(self, nullptr)) : PyRef();
    if (!shadow) return nullptr;
    return PyUnicode_FromFormat(
        "PortfolioResult(total_capital_used=%R, total_expected_profit=%R, shadow_price=%R, allocations=<%zu positions>)",
        used.get(), profit.get(), shadow.get(), portfolio_of(self).allocations.size());
}

PyGetSetDef portfolio_getset[] = {
    {"allocations", get_allocations, nullptr, "One AllocatedPosition per opportunity, in input order (a new list).",
     nullptr},
    {"total_capital_used", get_total_capital_used, nullptr, "The capital the allocations use (decimal.Decimal).",
     nullptr},
    {"total_expected_profit", get_total_expected_profit, nullptr,
     "The summed expected profit of the positions (decimal.Decimal).", nullptr},
    {"shadow_price", get_shadow_price, nullptr, "The price of capital at the solution (decimal.Decimal).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// (allocations as a tuple of position tuples, total_capital_used,
// total_expected_profit, shadow_price).
PyObject* portfolio_state(PyObject* self) {
    const ModuleState& state = state_of_type(Py_TYPE(self));
    const PortfolioResult& portfolio = portfolio_of(self);
    PyRef allocations = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(portfolio.allocations.size())));
    if (!allocations) return nullptr;
    Py_ssize_t index = 0;
    for (const AllocatedPosition& position : portfolio.allocations) {
        PyObject* item = position_tuple(state, position);
        if (item == nullptr) return nullptr;
        PyTuple_SET_ITEM(allocations.get(), index++, item);
    }
    PyRef used = PyRef::steal(from_decimal(state, portfolio.total_capital_used));
    if (!used) return nullptr;
    PyRef profit = PyRef::steal(from_decimal(state, portfolio.total_expected_profit));
    if (!profit) return nullptr;
    PyRef shadow = PyRef::steal(from_decimal(state, portfolio.shadow_price));
    if (!shadow) return nullptr;
    return PyTuple_Pack(4, allocations.get(), used.get(), profit.get(), shadow.get());
}

PyObject* portfolio_restore(const ModuleState&, PyTypeObject* type, PyObject* values) {
    PyObject* allocations = PyTuple_GET_ITEM(values, 0);
    if (!PyTuple_Check(allocations)) {
        raise_type_mismatch(allocations, "tuple");
        return nullptr;
    }
    PortfolioResult portfolio;
    portfolio.allocations.reserve(static_cast<std::size_t>(PyTuple_GET_SIZE(allocations)));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(allocations); ++i) {
        std::optional<AllocatedPosition> position = to_position(PyTuple_GET_ITEM(allocations, i));
        if (!position) return nullptr;
        portfolio.allocations.push_back(std::move(*position));
    }
    const std::optional<Decimal> used = to_decimal(PyTuple_GET_ITEM(values, 1), "total_capital_used");
    if (!used) return nullptr;
    const std::optional<Decimal> profit = to_decimal(PyTuple_GET_ITEM(values, 2), "total_expected_profit");
    if (!profit) return nullptr;
    const std::optional<Decimal> shadow = to_decimal(PyTuple_GET_ITEM(values, 3), "shadow_price");
    if (!shadow) return nullptr;
    portfolio.total_capital_used = *used;
    portfolio.total_expected_profit = *profit;
    portfolio.shadow_price = *shadow;
    return box(type, std::move(portfolio));
}

PyType_Slot portfolio_slots[] = {
    {Py_tp_doc, const_cast<char*>("Global portfolio optimization result.")},
    {Py_tp_methods, record_methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<PortfolioResult>)},
    {Py_tp_getset, portfolio_getset},
    {Py_tp_repr, reinterpret_cast<void*>(portfolio_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(record_richcompare<PortfolioResult, same_portfolio>)},
    {Py_tp_hash, reinterpret_cast<void*>(record_hash<PortfolioResult, hash_portfolio>)},
    {0, nullptr},
};

constexpr unsigned long kRecordFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;

}  // namespace

PyType_Spec allocated_position_spec =
    type_spec("quarlen.AllocatedPosition", sizeof(Boxed<AllocatedPosition>), kRecordFlags, position_slots);

PyType_Spec portfolio_result_spec =
    type_spec("quarlen.PortfolioResult", sizeof(Boxed<PortfolioResult>), kRecordFlags, portfolio_slots);

const RecordCodec kAllocatedPositionCodec{&ModuleState::allocated_position_type, 4, position_state, position_restore};
const RecordCodec kPortfolioResultCodec{&ModuleState::portfolio_result_type, 4, portfolio_state, portfolio_restore};

PyObject* new_portfolio_result(const ModuleState& state, PortfolioResult result) {
    return box(state.portfolio_result_type, std::move(result));
}

}  // namespace quarlen::py
