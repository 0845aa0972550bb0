// PortfolioResult and AllocatedPosition: the solved portfolio. Both own their
// core records; every read builds new Python objects from them.
#include "python/boxed.hpp"
#include "python/convert.hpp"
#include "python/results.hpp"
#include "python/type_spec.hpp"

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

PyType_Slot position_slots[] = {
    {Py_tp_doc, const_cast<char*>("Position allocation in a solved portfolio.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<AllocatedPosition>)},
    {Py_tp_getset, position_getset},
    {Py_tp_repr, reinterpret_cast<void*>(position_repr)},
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

PyType_Slot portfolio_slots[] = {
    {Py_tp_doc, const_cast<char*>("Global portfolio optimization result.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<PortfolioResult>)},
    {Py_tp_getset, portfolio_getset},
    {Py_tp_repr, reinterpret_cast<void*>(portfolio_repr)},
    {0, nullptr},
};

constexpr unsigned long kRecordFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;

}  // namespace

PyType_Spec allocated_position_spec =
    type_spec("quarlen.AllocatedPosition", sizeof(Boxed<AllocatedPosition>), kRecordFlags, position_slots);

PyType_Spec portfolio_result_spec =
    type_spec("quarlen.PortfolioResult", sizeof(Boxed<PortfolioResult>), kRecordFlags, portfolio_slots);

PyObject* new_portfolio_result(const ModuleState& state, PortfolioResult result) {
    return box(state.portfolio_result_type, std::move(result));
}

}  // namespace quarlen::py
