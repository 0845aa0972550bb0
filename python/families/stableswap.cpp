#include "python/families.hpp"
#include "python/family_docs.hpp"

#include "core/src/curves/stableswap.hpp"

namespace quarlen::py {

namespace {
constexpr Parameter kParameters[] = {
    {"reserves", ParameterKind::Numbers, "reserves[i]"},
    {"amplification"},
    {"fee_retention"},
};
constexpr PoolNames kNames{"quarlen.PyStableSwap", "stableswap_optimal_size", kParameters};
}  // namespace

constinit const PoolFamily kStableSwapFamily{
    kNames,
    docs_of<kNames>,
    [](const PoolArguments& a) { return shared(StableSwapPool::create(a.numbers(0), a.number(1), a.number(2))); },
    // Iterative: long enough that other threads should run meanwhile.
    LockPolicy{.release_for_sizing = true, .release_for_quote = true},
};

}  // namespace quarlen::py
