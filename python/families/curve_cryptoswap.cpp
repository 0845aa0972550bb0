#include "core/src/curves/curve_cryptoswap.hpp"
#include "python/families.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {
    {"balances", ParameterKind::Pair},
    {"amplification_a"},
    {"gamma"},
    {"fee_retention"},
    {"input_index", ParameterKind::Index, nullptr, std::uint64_t{0}},
};
}  // namespace

constinit const PoolFamily kCurveCryptoSwapFamily{
    "quarlen.PyCurveCryptoSwap",
    "PyCurveCryptoSwap(balances, amplification_a, gamma, fee_retention, input_index=0)\n--\n\n",
    "cryptoswap_optimal_size",
    "cryptoswap_optimal_size(balances, amplification_a, gamma, fee_retention, input_index, reference_price, "
    "fixed_cost=None, max_size=None)\n--\n\n",
    kParameters,
    [](const PoolArguments& a) {
        const std::vector<Decimal>& balances = a.numbers(0);
        return shared(CryptoSwapPool::create(balances[0], balances[1], a.number(1), a.number(2), a.number(3),
                                             a.index(4)));
    },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true, .release_for_quote = true},
};

}  // namespace quarlen::py
