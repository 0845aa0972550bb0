#include "python/families.hpp"
#include "python/family_docs.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/src/curves/curve_cryptoswap.hpp"
#include "python/convert.hpp"

namespace quarlen::py {

namespace {

// The pool has exactly two coins: the count is checked before any balance
// converts, and each balance is named by its position ("balances[0]").
std::optional<ArgumentValue> to_pair(std::span<const PyRef> items, const char* name) {
    if (items.size() != 2) {
        PyErr_Format(PyExc_ValueError, "%s must contain exactly 2 elements", name);
        return std::nullopt;
    }
    const std::optional<Decimal> first = to_decimal(items[0].get(), std::string(name) + "[0]");
    if (!first) return std::nullopt;
    const std::optional<Decimal> second = to_decimal(items[1].get(), std::string(name) + "[1]");
    if (!second) return std::nullopt;
    return std::vector<Decimal>{*first, *second};
}

// The pair is a plain sequence of Decimals once converted, so the generic
// code shows, compares and hashes it.
constexpr ParameterConverter kPairConverter{to_pair};

constexpr Parameter kParameters[] = {
    {.name = "balances", .kind = ParameterKind::Custom, .converter = &kPairConverter},
    {"amplification_a"},
    {"gamma"},
    {"fee_retention"},
    {"input_index", ParameterKind::Index, nullptr, std::uint64_t{0}},
};
constexpr PoolNames kNames{"quarlen.PyCurveCryptoSwap", "cryptoswap_optimal_size", kParameters};

}  // namespace

constinit const PoolFamily kCurveCryptoSwapFamily{
    kNames,
    docs_of<kNames>,
    [](const PoolArguments& a) {
        const std::vector<Decimal>& balances = a.numbers(0);
        return shared(CryptoSwapPool::create(balances[0], balances[1], a.number(1), a.number(2), a.number(3),
                                             a.index(4)));
    },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true, .release_for_quote = true},
};

}  // namespace quarlen::py
