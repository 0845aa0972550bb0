#include "python/families.hpp"
#include "python/family_docs.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/src/curves/dlmm.hpp"
#include "python/convert.hpp"

namespace quarlen::py {

namespace {

using Bins = std::vector<DlmmBin>;

// A bin mapping: "bin_id" first (as a signed 32-bit integer), then "price",
// "reserve_x" and "reserve_y" are read, then those three are converted.
std::optional<DlmmBin> to_bin(PyObject* mapping) {
    PyRef bin_id_object = item_of(mapping, "bin_id");
    if (!bin_id_object) return std::nullopt;
    const std::optional<std::int32_t> bin_id = to_int32(bin_id_object.get());
    if (!bin_id) return std::nullopt;
    PyRef price_object = item_of(mapping, "price");
    if (!price_object) return std::nullopt;
    PyRef reserve_x_object = item_of(mapping, "reserve_x");
    if (!reserve_x_object) return std::nullopt;
    PyRef reserve_y_object = item_of(mapping, "reserve_y");
    if (!reserve_y_object) return std::nullopt;
    const std::optional<Decimal> price = to_decimal(price_object.get(), "bin.price");
    if (!price) return std::nullopt;
    const std::optional<Decimal> reserve_x = to_decimal(reserve_x_object.get(), "bin.reserve_x");
    if (!reserve_x) return std::nullopt;
    const std::optional<Decimal> reserve_y = to_decimal(reserve_y_object.get(), "bin.reserve_y");
    if (!reserve_y) return std::nullopt;
    return DlmmBin{*price, *reserve_x, *reserve_y, *bin_id};
}

std::optional<ArgumentValue> to_bins(std::span<const PyRef> items, const char*) {
    Bins bins;
    bins.reserve(items.size());
    for (const PyRef& item : items) {
        std::optional<DlmmBin> bin = to_bin(item.get());
        if (!bin) return std::nullopt;
        bins.push_back(*bin);
    }
    return ArgumentValue(std::in_place_type<std::any>, std::move(bins));
}

// {"bin_id": int, "price": Decimal, "reserve_x": Decimal, "reserve_y": Decimal}.
PyObject* bin_to_python(const ModuleState& state, const DlmmBin& bin) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    PyRef bin_id = PyRef::steal(PyLong_FromLong(bin.bin_id));
    PyRef price = bin_id ? PyRef::steal(from_decimal(state, bin.price)) : PyRef();
    PyRef reserve_x = price ? PyRef::steal(from_decimal(state, bin.reserve_x)) : PyRef();
    PyRef reserve_y = reserve_x ? PyRef::steal(from_decimal(state, bin.reserve_y)) : PyRef();
    if (!reserve_y) return nullptr;
    if (PyDict_SetItemString(dict.get(), "bin_id", bin_id.get()) < 0 ||
        PyDict_SetItemString(dict.get(), "price", price.get()) < 0 ||
        PyDict_SetItemString(dict.get(), "reserve_x", reserve_x.get()) < 0 ||
        PyDict_SetItemString(dict.get(), "reserve_y", reserve_y.get()) < 0)
        return nullptr;
    return dict.release();
}

// A list of bin dicts, as the constructor takes them.
PyObject* bins_to_python(const ModuleState& state, const std::any& value) {
    const Bins& bins = std::any_cast<const Bins&>(value);
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(bins.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < bins.size(); ++i) {
        PyObject* item = bin_to_python(state, bins[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

bool same_bin(const DlmmBin& a, const DlmmBin& b) {
    return a.bin_id == b.bin_id && a.price == b.price && a.reserve_x == b.reserve_x && a.reserve_y == b.reserve_y;
}

bool same_bins(const std::any& a, const std::any& b) {
    const Bins& left = std::any_cast<const Bins&>(a);
    const Bins& right = std::any_cast<const Bins&>(b);
    return std::ranges::equal(left, right, same_bin);
}

void hash_bins(ValueHash& hash, const std::any& value) {
    const Bins& bins = std::any_cast<const Bins&>(value);
    hash.add(static_cast<std::uint64_t>(bins.size()));
    for (const DlmmBin& bin : bins) {
        hash.add(static_cast<std::uint64_t>(static_cast<std::uint32_t>(bin.bin_id)));
        hash.add(bin.price);
        hash.add(bin.reserve_x);
        hash.add(bin.reserve_y);
    }
}

constexpr ParameterConverter kBinsConverter{to_bins, bins_to_python, same_bins, hash_bins};

constexpr Parameter kParameters[] = {
    {.name = "bins", .kind = ParameterKind::Custom, .converter = &kBinsConverter},
    {"active_bin_index", ParameterKind::Index},
    {"fee_retention"},
};
constexpr PoolNames kNames{"quarlen.PyDlmmBook", "dlmm_optimal_size", kParameters};

}  // namespace

constinit const PoolFamily kDlmmFamily{
    kNames,
    docs_of<kNames>,
    [](const PoolArguments& a) { return shared(DlmmBook::create(a.custom<Bins>(0), a.index(1), a.number(2))); },
};

}  // namespace quarlen::py
