#include "core/src/curves/stableswap.hpp"
#include "python/families.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {
    {"reserves", ParameterKind::Numbers, "reserves[i]"},
    {"amplification"},
    {"fee_retention"},
};
}  // namespace

constinit const PoolFamily kStableSwapFamily{
    "quarlen.PyStableSwap",
    "PyStableSwap(reserves, amplification, fee_retention)\n--\n\n",
    "stableswap_optimal_size",
    "stableswap_optimal_size(reserves, amplification, fee_retention, reference_price, fixed_cost=None, "
    "max_size=None)\n--\n\n",
    kParameters,
    [](const PoolArguments& a) { return shared(StableSwapPool::create(a.numbers(0), a.number(1), a.number(2))); },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true, .release_for_quote = true},
};

}  // namespace quarlen::py
